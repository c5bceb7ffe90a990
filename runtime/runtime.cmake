add_library(ruvo_runtime STATIC
  ${CMAKE_CURRENT_LIST_DIR}/definition.cpp
  ${CMAKE_CURRENT_LIST_DIR}/runtime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/services.cpp
  ${CMAKE_CURRENT_LIST_DIR}/drawing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/program.cpp)
target_include_directories(ruvo_runtime PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ruvo_runtime PUBLIC ruvo_text ruvo_linux)
ruvo_gb18030(ruvo_runtime)
