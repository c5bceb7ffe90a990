# The MP3 player behind PlayMp3 and friends: libmpg123 decodes, PulseAudio
# plays; recording_sink is the audio sink of the tests and benchmarks.
add_library(ruvo_playback STATIC
  ${CMAKE_CURRENT_LIST_DIR}/playback.cpp
  ${CMAKE_CURRENT_LIST_DIR}/player.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pulse_sink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recording_sink.cpp)
target_include_directories(ruvo_playback PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ruvo_playback PUBLIC ruvo_text PRIVATE PkgConfig::MPG123 PkgConfig::PULSE Threads::Threads)
