# Ring lateness of the desktop backend's timers; prints, never fails.
if(TARGET ruvo_qt)
  add_executable(timer_bench ${CMAKE_CURRENT_LIST_DIR}/timer_bench.cpp)
  target_link_libraries(timer_bench PRIVATE ruvo_qt ruvo_runtime)
endif()
