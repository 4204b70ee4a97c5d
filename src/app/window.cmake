# The main window and the program entry use every subsystem, so they are built last.
vorlix_add_library(vorlix_window
  ${CMAKE_CURRENT_LIST_DIR}/UsenetUnit.cpp ${CMAKE_CURRENT_LIST_DIR}/UsenetUnit.h
  ${CMAKE_CURRENT_LIST_DIR}/NewsCommands.cpp ${CMAKE_CURRENT_LIST_DIR}/NewsCommands.h
  ${CMAKE_CURRENT_LIST_DIR}/TipOfDayUnit.cpp ${CMAKE_CURRENT_LIST_DIR}/TipOfDayUnit.h
  ${CMAKE_CURRENT_LIST_DIR}/VorlixApplication.cpp ${CMAKE_CURRENT_LIST_DIR}/VorlixApplication.h
)
get_property(vorlix_window_deps GLOBAL PROPERTY VORLIX_LIBRARIES)
list(REMOVE_ITEM vorlix_window_deps vorlix_window)
target_link_libraries(vorlix_window PUBLIC ${vorlix_window_deps})
