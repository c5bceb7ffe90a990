# The logind client against python-dbusmock's logind on a private bus.
ruvo_test(logind_test LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/logind_test.cpp LIBS ruvo_logind ruvo_headless)
