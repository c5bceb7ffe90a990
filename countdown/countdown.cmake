# The countdown timer's own window and handlers; objects, so that the
# binding table always reaches the executable.
add_library(countdown_logic OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/main_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/option_groups.cpp
  ${CMAKE_CURRENT_LIST_DIR}/countdown_start.cpp
  ${CMAKE_CURRENT_LIST_DIR}/music.cpp
  ${CMAKE_CURRENT_LIST_DIR}/launch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/power.cpp
  ${CMAKE_CURRENT_LIST_DIR}/handlers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/options_page.cpp
  ${CMAKE_CURRENT_LIST_DIR}/about.cpp)
ruvo_embed(countdown_logic countdownWindows mainWindow.window ${CMAKE_CURRENT_LIST_DIR}/mainWindow.window)
target_include_directories(countdown_logic PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(countdown_logic PUBLIC ruvo_common)
ruvo_gb18030(countdown_logic)

if(TARGET ruvo_qt)
  add_executable(countdown ${CMAKE_CURRENT_LIST_DIR}/main.cpp ${PROJECT_SOURCE_DIR}/runtime/out_of_memory.cpp)
  target_link_libraries(countdown PRIVATE countdown_logic ruvo_qt ruvo_logind)
  ruvo_link_playback(countdown)
endif()
