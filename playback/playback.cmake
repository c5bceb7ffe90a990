# The MP3 player behind PlayMp3 and friends: libmpg123 decodes, PulseAudio
# plays; recording_sink is the audio sink of the tests and benchmarks.
add_library(ruvo_playback_api INTERFACE)
target_include_directories(ruvo_playback_api INTERFACE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ruvo_playback_api INTERFACE ruvo_text)

add_library(ruvo_playback_service OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/playback.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recording_sink.cpp)
target_link_libraries(ruvo_playback_service PUBLIC ruvo_playback_api Threads::Threads)

# Everything in one: the tests and benchmarks link this.
add_library(ruvo_playback STATIC
  $<TARGET_OBJECTS:ruvo_playback_service>
  ${CMAKE_CURRENT_LIST_DIR}/player.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pulse_sink.cpp)
target_link_libraries(ruvo_playback PUBLIC ruvo_playback_api PRIVATE PkgConfig::MPG123 PkgConfig::PULSE Threads::Threads)

# The programs load the player, with libmpg123 and libpulse, at the first play.
# It is built as a library of its own and carried inside each program, which
# runs alone wherever it is copied: nothing it rings with lies beside it.
set_property(TARGET ruvo_text PROPERTY POSITION_INDEPENDENT_CODE ON)
add_library(ruvo_player MODULE
  ${CMAKE_CURRENT_LIST_DIR}/player_module.cpp
  ${CMAKE_CURRENT_LIST_DIR}/player.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pulse_sink.cpp)
set_target_properties(ruvo_player PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/playback)
target_link_libraries(ruvo_player PRIVATE ruvo_playback_api PkgConfig::MPG123 PkgConfig::PULSE Threads::Threads)
target_link_options(ruvo_player PRIVATE -Wl,--exclude-libs,ALL -Wl,-Bsymbolic)

# The image built into the programs: without its debug information, which
# would make up most of it; its symbols stay for the sanitizers' reports.
set(player_image ${PROJECT_BINARY_DIR}/playback/player-image.bin)
add_custom_command(OUTPUT ${player_image}
  COMMAND ${CMAKE_OBJCOPY} --strip-debug $<TARGET_FILE:ruvo_player> ${player_image}
  DEPENDS ruvo_player
  VERBATIM)

add_library(ruvo_playback_lazy STATIC
  $<TARGET_OBJECTS:ruvo_playback_service>
  ${CMAKE_CURRENT_LIST_DIR}/player_loader.cpp
  ${player_image})
ruvo_embed(ruvo_playback_lazy playerImage player ${player_image})
target_link_libraries(ruvo_playback_lazy PUBLIC ruvo_playback_api Threads::Threads ${CMAKE_DL_LIBS} PRIVATE ruvo_linux)

# A program links the service, which loads the player it carries.
function(ruvo_link_playback target)
  target_link_libraries(${target} PRIVATE ruvo_playback_lazy)
endfunction()
