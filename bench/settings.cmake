# Reading and writing one key of a large settings file, saves under a held lock and writer races on a
# real and a slow disk; prints, never fails.
add_executable(settings_bench ${CMAKE_CURRENT_LIST_DIR}/settings_bench.cpp)
target_link_libraries(settings_bench PRIVATE ruvo_settings ruvo_linux)
target_compile_definitions(settings_bench PRIVATE RUVO_SLOW_DISK="${CMAKE_CURRENT_LIST_DIR}/slow_disk.py")
