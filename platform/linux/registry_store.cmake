target_sources(ruvo_linux PRIVATE ${CMAKE_CURRENT_LIST_DIR}/registry_store.cpp)
