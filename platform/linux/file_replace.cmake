target_sources(ruvo_linux PRIVATE ${CMAKE_CURRENT_LIST_DIR}/file_replace.cpp)
