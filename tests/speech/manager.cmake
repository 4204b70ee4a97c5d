# Tests of the speech manager over the real engines, the null sink and the MP3 converter.
vorlix_add_test(test_speech_manager LIBS vorlix_speech SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_speech_manager.cpp)
vorlix_add_test(test_speech_manager_nodevice LIBS vorlix_speech SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_speech_manager_nodevice.cpp)
