# The voices and engines model of the speech layer.
list(APPEND VORLIX_SPEECH_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/TBaseVoiceUtils.cpp ${CMAKE_CURRENT_LIST_DIR}/TBaseVoiceUtils.h
  ${CMAKE_CURRENT_LIST_DIR}/TBaseEngineUnit.cpp ${CMAKE_CURRENT_LIST_DIR}/TBaseEngineUnit.h
  ${CMAKE_CURRENT_LIST_DIR}/TBaseEngineList.cpp ${CMAKE_CURRENT_LIST_DIR}/TBaseEngineList.h
  ${CMAKE_CURRENT_LIST_DIR}/TBaseVoiceUnit.cpp ${CMAKE_CURRENT_LIST_DIR}/TBaseVoiceUnit.h
  ${CMAKE_CURRENT_LIST_DIR}/TBaseVoiceDefaults.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TBaseVoiceList.cpp ${CMAKE_CURRENT_LIST_DIR}/TBaseVoiceList.h
  ${CMAKE_CURRENT_LIST_DIR}/TBaseVoiceRegistryClassUnit.cpp ${CMAKE_CURRENT_LIST_DIR}/TBaseVoiceRegistryClassUnit.h
)
