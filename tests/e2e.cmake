# End-to-end runs of the real executables; scripts/test.sh runs this label
# under xvfb-run and a private session bus.
if(TARGET countdown)
  foreach(name countdown_window countdown_alarm countdown_desktop countdown_launch_power countdown_options)
    add_test(NAME ${name}_e2e COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_${name}.py)
    set_tests_properties(${name}_e2e PROPERTIES LABELS e2e TIMEOUT 120
      ENVIRONMENT "RUVO_COUNTDOWN=$<TARGET_FILE:countdown>;RUVO_TEST_DATA=${CMAKE_CURRENT_SOURCE_DIR}/data;RUVO_SCREENSHOTS=${CMAKE_BINARY_DIR};PYTHONPATH=${CMAKE_CURRENT_SOURCE_DIR}/e2e")
  endforeach()
endif()
if(TARGET kitchentimer)
  add_test(NAME kitchentimer_e2e COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_kitchentimer.py)
  set_tests_properties(kitchentimer_e2e PROPERTIES LABELS e2e TIMEOUT 180
    ENVIRONMENT "RUVO_KITCHENTIMER=$<TARGET_FILE:kitchentimer>;RUVO_SCREENSHOTS=${CMAKE_BINARY_DIR};PYTHONPATH=${CMAKE_CURRENT_SOURCE_DIR}/e2e")
endif()
if(TARGET countdown AND TARGET kitchentimer)
  add_test(NAME copied_program_e2e COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_copied_program.py)
  set_tests_properties(copied_program_e2e PROPERTIES LABELS e2e TIMEOUT 120
    ENVIRONMENT "RUVO_COUNTDOWN=$<TARGET_FILE:countdown>;RUVO_KITCHENTIMER=$<TARGET_FILE:kitchentimer>;RUVO_BUILD_DIR=${CMAKE_BINARY_DIR};RUVO_SOURCE_DIR=${PROJECT_SOURCE_DIR};RUVO_TEST_DATA=${CMAKE_CURRENT_SOURCE_DIR}/data;PYTHONPATH=${CMAKE_CURRENT_SOURCE_DIR}/e2e")
endif()
if(TARGET kitchentimer)
  add_test(NAME dead_share_e2e COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_dead_share.py)
  set_tests_properties(dead_share_e2e PROPERTIES LABELS e2e TIMEOUT 180
    ENVIRONMENT "RUVO_KITCHENTIMER=$<TARGET_FILE:kitchentimer>;RUVO_SCREENSHOTS=${CMAKE_BINARY_DIR};PYTHONPATH=${CMAKE_CURRENT_SOURCE_DIR}/e2e")
endif()
