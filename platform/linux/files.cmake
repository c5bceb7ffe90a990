target_sources(ruvo_linux PRIVATE ${CMAKE_CURRENT_LIST_DIR}/files.cpp)
target_include_directories(ruvo_linux PUBLIC ${PROJECT_SOURCE_DIR}/runtime)
