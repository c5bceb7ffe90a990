# The player where a sandbox refuses memory files or /proc is missing.
add_executable(without_memfd e2e/without_memfd.c)
if(TARGET kitchentimer)
  ruvo_e2e_test(sandboxed_sound_e2e test_sandboxed_sound.py 180
    "RUVO_KITCHENTIMER=$<TARGET_FILE:kitchentimer>;RUVO_WITHOUT_MEMFD=$<TARGET_FILE:without_memfd>")
endif()
