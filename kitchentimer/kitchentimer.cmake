# The kitchen timer's own windows and handlers; objects, so that the binding
# table always reaches the executable.
add_library(kitchentimer_logic OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/main_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/countdown.cpp
  ${CMAKE_CURRENT_LIST_DIR}/music.cpp
  ${CMAKE_CURRENT_LIST_DIR}/handlers.cpp)
ruvo_embed(kitchentimer_logic kitchentimerWindows
  kitchenMainWindow.window ${CMAKE_CURRENT_LIST_DIR}/kitchenMainWindow.window
  aboutWindow.window ${CMAKE_CURRENT_LIST_DIR}/aboutWindow.window)
target_include_directories(kitchentimer_logic PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kitchentimer_logic PUBLIC ruvo_common)
ruvo_gb18030(kitchentimer_logic)

if(TARGET ruvo_qt)
  add_executable(kitchentimer ${CMAKE_CURRENT_LIST_DIR}/main.cpp ${PROJECT_SOURCE_DIR}/runtime/out_of_memory.cpp)
  target_link_libraries(kitchentimer PRIVATE kitchentimer_logic ruvo_qt)
  ruvo_link_playback(kitchentimer)
endif()
