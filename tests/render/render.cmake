# The real program: `vorlix render` is run as a user runs it.
vorlix_add_test(test_render LIBS vorlix_render vorlix_samplenews SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_render.cpp)
target_compile_definitions(test_render PRIVATE VORLIX_PROGRAM="$<TARGET_FILE:vorlix>")
add_dependencies(test_render vorlix)
