ruvo_test(countdown_options_test LABEL program GB18030 SOURCES ${CMAKE_CURRENT_LIST_DIR}/countdown_options_test.cpp
  LIBS countdown_logic ruvo_headless ruvo_settings)
