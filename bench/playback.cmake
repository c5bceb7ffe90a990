# Start, replace and CPU figures of the playback service as the programs link
# it; prints, never fails.
add_executable(playback_bench ${CMAKE_CURRENT_LIST_DIR}/playback_bench.cpp)
ruvo_link_playback(playback_bench)
target_compile_definitions(playback_bench PRIVATE RUVO_DEFAULT_ALARM="${PROJECT_SOURCE_DIR}/assets/default-alarm.mp3")
# Linked like the programs, so that the libraries the player shares with Qt
# (D-Bus, X11, xcb and theirs) are already loaded at the first play, as there.
target_link_libraries(playback_bench PRIVATE -Wl,--no-as-needed Qt6::Widgets Qt6::DBus)
