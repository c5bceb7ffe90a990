# The playback service: rules of the player against the recording sink (unit),
# and the real PulseAudio sink heard on a null sink's monitor (e2e).
ruvo_test(playback_test LABEL unit SOURCES playback_test.cpp LIBS ruvo_playback)
ruvo_test(playback_e2e_test LABEL e2e SOURCES playback_e2e_test.cpp LIBS ruvo_playback)
foreach(t playback_test playback_e2e_test)
  target_compile_definitions(${t} PRIVATE RUVO_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
endforeach()
