# What both programs share: the program frame, the default sound, the duration
# conversion, the option-group rule, the alert-mode group and the alarm handlers.
add_library(ruvo_common STATIC
  ${CMAKE_CURRENT_LIST_DIR}/program_frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/option_group.cpp
  ${CMAKE_CURRENT_LIST_DIR}/alert_mode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/duration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/default_sound.cpp
  ${CMAKE_CURRENT_LIST_DIR}/alarm.cpp)
target_include_directories(ruvo_common PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ruvo_common PUBLIC ruvo_runtime ruvo_settings ruvo_assets ruvo_playback_api)
ruvo_gb18030(ruvo_common)
