# Start, replace and CPU figures of the playback service; prints, never fails.
add_executable(playback_bench ${CMAKE_CURRENT_LIST_DIR}/playback_bench.cpp)
target_link_libraries(playback_bench PRIVATE ruvo_playback)
target_compile_definitions(playback_bench PRIVATE RUVO_DEFAULT_ALARM="${PROJECT_SOURCE_DIR}/assets/default-alarm.mp3")
