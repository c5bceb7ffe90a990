ruvo_test(kitchentimer_test LABEL program GB18030 SOURCES kitchentimer_test.cpp LIBS kitchentimer_logic ruvo_headless ruvo_playback)
find_package(Qt6 REQUIRED COMPONENTS Test)
ruvo_test(kitchentimer_widget_test LABEL widget
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/kitchentimer_widget_test.cpp
  LIBS kitchentimer_logic ruvo_qt Qt6::Test)
# The windows' places once more on two screens, the primary one away from 0, 0.
add_test(NAME KitchenWidgetTest.onTwoScreens
  COMMAND kitchentimer_widget_test --gtest_filter=KitchenWidgetTest.shouldPlaceTheFramesOfBothWindowsCentredOnThePrimaryScreen)
set_tests_properties(KitchenWidgetTest.onTwoScreens PROPERTIES LABELS widget
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_CURRENT_LIST_DIR}/data/two-screens.json")
