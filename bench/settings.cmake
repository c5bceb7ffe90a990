# Reading and writing one key of a large settings file, and a save under a held lock; prints, never fails.
add_executable(settings_bench ${CMAKE_CURRENT_LIST_DIR}/settings_bench.cpp)
target_link_libraries(settings_bench PRIVATE ruvo_settings)
