ruvo_test(settings_test LABEL unit GB18030 SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_test.cpp LIBS ruvo_settings ruvo_linux)
