# The launch and power pages on the headless platform.
ruvo_test(countdown_launch_test LABEL program GB18030 SOURCES ${CMAKE_CURRENT_LIST_DIR}/countdown_launch_test.cpp LIBS countdown_logic ruvo_headless)
ruvo_test(countdown_power_test LABEL program GB18030 SOURCES ${CMAKE_CURRENT_LIST_DIR}/countdown_power_test.cpp LIBS countdown_logic ruvo_headless)
