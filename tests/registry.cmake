ruvo_test(registry_test LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry_test.cpp LIBS ruvo_linux)
