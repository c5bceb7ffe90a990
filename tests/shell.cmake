# Detached starts with a stub xdg-open first on PATH.
ruvo_test(shell_test LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/shell_test.cpp LIBS ruvo_linux)
