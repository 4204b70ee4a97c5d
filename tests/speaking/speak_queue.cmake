vorlix_add_test(test_speak_queue LIBS vorlix_speaking SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_speak_queue.cpp)
