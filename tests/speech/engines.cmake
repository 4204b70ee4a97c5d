# Tests of the engine layers, the adapters and the sound output.
vorlix_add_test(test_engine_layers LIBS vorlix_speech SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_engine_layers.cpp)
