ruvo_test(kitchentimer_test LABEL program GB18030 SOURCES kitchentimer_test.cpp LIBS kitchentimer_logic ruvo_headless ruvo_playback)
find_package(Qt6 REQUIRED COMPONENTS Test)
ruvo_test(kitchentimer_widget_test LABEL widget
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/kitchentimer_widget_test.cpp
  LIBS kitchentimer_logic ruvo_qt Qt6::Test)
