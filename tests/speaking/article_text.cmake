vorlix_add_test(test_article_text LIBS vorlix_speaking SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_article_text.cpp)
