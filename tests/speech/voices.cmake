vorlix_add_test(test_voices LIBS vorlix_speech SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_voices.cpp)
