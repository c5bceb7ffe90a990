# End-to-end runs of the real executables; scripts/test.sh runs this label
# under xvfb-run and a private session bus.
# One end-to-end test: a script of e2e/ with the environment it reads.
function(ruvo_e2e_test name script timeout env)
  add_test(NAME ${name} COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/${script})
  set_tests_properties(${name} PROPERTIES LABELS e2e TIMEOUT ${timeout}
    ENVIRONMENT "${env};PYTHONPATH=${CMAKE_CURRENT_SOURCE_DIR}/e2e")
endfunction()

set(data RUVO_TEST_DATA=${CMAKE_CURRENT_SOURCE_DIR}/data)
set(shots RUVO_SCREENSHOTS=${CMAKE_BINARY_DIR})
if(TARGET countdown)
  foreach(name countdown_window countdown_alarm countdown_desktop countdown_launch_power countdown_options
      desktop_looks)
    ruvo_e2e_test(${name}_e2e test_${name}.py 120 "RUVO_COUNTDOWN=$<TARGET_FILE:countdown>;${data};${shots}")
  endforeach()
endif()
if(TARGET kitchentimer)
  ruvo_e2e_test(kitchentimer_e2e test_kitchentimer.py 180 "RUVO_KITCHENTIMER=$<TARGET_FILE:kitchentimer>;${shots}")
endif()
if(TARGET countdown AND TARGET kitchentimer)
  ruvo_e2e_test(dead_share_e2e test_dead_share.py 180
    "RUVO_COUNTDOWN=$<TARGET_FILE:countdown>;RUVO_KITCHENTIMER=$<TARGET_FILE:kitchentimer>;${shots}")
  ruvo_e2e_test(copied_program_e2e test_copied_program.py 120
    "RUVO_COUNTDOWN=$<TARGET_FILE:countdown>;RUVO_KITCHENTIMER=$<TARGET_FILE:kitchentimer>;RUVO_BUILD_DIR=${CMAKE_BINARY_DIR};RUVO_SOURCE_DIR=${PROJECT_SOURCE_DIR};${data}")
  ruvo_e2e_test(wayland_session_e2e test_wayland_session.py 120
    "RUVO_COUNTDOWN=$<TARGET_FILE:countdown>;RUVO_KITCHENTIMER=$<TARGET_FILE:kitchentimer>;${shots}")
endif()
if(TARGET countdown AND TARGET kitchentimer)
  ruvo_e2e_test(session_end_e2e test_session_end.py 180
    "RUVO_COUNTDOWN=$<TARGET_FILE:countdown>;RUVO_KITCHENTIMER=$<TARGET_FILE:kitchentimer>")
endif()
