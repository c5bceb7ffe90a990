# End-to-end runs of the real executables; scripts/test.sh runs this label
# under xvfb-run and a private session bus.
if(TARGET countdown)
  add_test(NAME countdown_window_e2e
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_countdown_window.py)
  set_tests_properties(countdown_window_e2e PROPERTIES LABELS e2e TIMEOUT 120
    ENVIRONMENT "RUVO_COUNTDOWN=$<TARGET_FILE:countdown>;RUVO_SCREENSHOTS=${CMAKE_BINARY_DIR};PYTHONPATH=${CMAKE_CURRENT_SOURCE_DIR}/e2e")
endif()
if(TARGET countdown)
  add_test(NAME countdown_alarm_e2e
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_countdown_alarm.py)
  set_tests_properties(countdown_alarm_e2e PROPERTIES LABELS e2e TIMEOUT 120
    ENVIRONMENT "RUVO_COUNTDOWN=$<TARGET_FILE:countdown>;PYTHONPATH=${CMAKE_CURRENT_SOURCE_DIR}/e2e")
endif()
