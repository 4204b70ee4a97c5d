# The podcast feed of the output folder, and its web server.
vorlix_add_test(test_podcast_feed LIBS vorlix_render SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_podcast_feed.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FeedCheck.h)
vorlix_add_test(test_feed_server LIBS vorlix_render SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_feed_server.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FeedCheck.h)
