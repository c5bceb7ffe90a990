target_sources(ruvo_linux PRIVATE ${CMAKE_CURRENT_LIST_DIR}/shell.cpp)
target_link_libraries(ruvo_linux PUBLIC Threads::Threads)
