find_package(X11)
if(X11_FOUND)
  add_executable(startup_bench ${CMAKE_CURRENT_LIST_DIR}/startup_bench.cpp)
  target_link_libraries(startup_bench PRIVATE X11::X11)
  target_compile_definitions(startup_bench PRIVATE
    RUVO_COUNTDOWN_PROGRAM="${PROJECT_BINARY_DIR}/countdown/countdown"
    RUVO_KITCHENTIMER_PROGRAM="${PROJECT_BINARY_DIR}/kitchentimer/kitchentimer"
    RUVO_FLOOR_PROGRAM="${CMAKE_CURRENT_BINARY_DIR}/floor_window")
  add_executable(floor_window ${CMAKE_CURRENT_LIST_DIR}/floor_window.cpp)
  target_link_libraries(floor_window PRIVATE Qt6::Widgets)
  add_dependencies(startup_bench floor_window)
endif()
