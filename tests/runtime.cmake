ruvo_test(runtime_test LABEL program GB18030 SOURCES runtime_test.cpp LIBS ruvo_headless)
ruvo_test(services_test LABEL unit GB18030 SOURCES services_test.cpp LIBS ruvo_runtime)
ruvo_test(countdown_frame_test LABEL program GB18030 SOURCES countdown_frame_test.cpp LIBS countdown_logic ruvo_headless)
ruvo_test(countdown_start_test LABEL program GB18030 SOURCES countdown_start_test.cpp LIBS countdown_logic ruvo_headless)
