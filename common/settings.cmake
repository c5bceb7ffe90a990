# The settings file "pz.ini", shared by both programs.
add_library(ruvo_settings STATIC ${CMAKE_CURRENT_LIST_DIR}/settings_store.cpp)
target_include_directories(ruvo_settings PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ruvo_settings PUBLIC ruvo_linux)
ruvo_gb18030(ruvo_settings)
