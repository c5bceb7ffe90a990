# Reading one key from a large settings file; prints, never fails.
add_executable(settings_bench ${CMAKE_CURRENT_LIST_DIR}/settings_bench.cpp)
target_link_libraries(settings_bench PRIVATE ruvo_settings)
