# Tests of the engine layers, the adapters and the sound output.
vorlix_add_test(test_engine_layers LIBS vorlix_speech SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_engine_layers.cpp)
vorlix_add_test(test_sapi5_adapter LIBS vorlix_speech SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_sapi5_adapter.cpp)
vorlix_add_test(test_sapi4_adapter LIBS vorlix_speech SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_sapi4_adapter.cpp)
vorlix_add_test(test_audio_nodevice LIBS vorlix_gui SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_audio_nodevice.cpp)
vorlix_add_test(test_audio_vanish LIBS vorlix_speech SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_audio_vanish.cpp)
vorlix_add_test(test_both_engines LIBS vorlix_speech SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_both_engines.cpp)
