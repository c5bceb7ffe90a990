# Widget tests: the Qt backend on Qt's offscreen platform (set by the test itself
# when QT_QPA_PLATFORM is not given).
find_package(Qt6 REQUIRED COMPONENTS Test)
ruvo_test(widget_test LABEL widget
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/widget_test.cpp
  LIBS ruvo_qt ruvo_runtime ruvo_assets Qt6::Test)
