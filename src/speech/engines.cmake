# The engine layers (eSpeak NG behind the SAPI 5 adapter, Flite behind the SAPI 4 adapter),
# the adapters themselves and the sound output through PulseAudio.
pkg_check_modules(VORLIX_ENGINE_DEPS REQUIRED IMPORTED_TARGET espeak-ng libpulse sndfile soxr)
list(APPEND VORLIX_SPEECH_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/PulseAudioOut.cpp ${CMAKE_CURRENT_LIST_DIR}/PulseAudioOut.h
  ${CMAKE_CURRENT_LIST_DIR}/SpeechOutput.cpp ${CMAKE_CURRENT_LIST_DIR}/SpeechOutput.h
  ${CMAKE_CURRENT_LIST_DIR}/Sapi5Wrapper.cpp ${CMAKE_CURRENT_LIST_DIR}/Sapi5Wrapper.h
  ${CMAKE_CURRENT_LIST_DIR}/TTS.cpp ${CMAKE_CURRENT_LIST_DIR}/TTS.h
  ${CMAKE_CURRENT_LIST_DIR}/SpeechAPIUnit.cpp ${CMAKE_CURRENT_LIST_DIR}/SpeechAPIUnit.h
  ${CMAKE_CURRENT_LIST_DIR}/EventSink.cpp ${CMAKE_CURRENT_LIST_DIR}/EventSink.h
  ${CMAKE_CURRENT_LIST_DIR}/Sapi5Unit.cpp ${CMAKE_CURRENT_LIST_DIR}/Sapi5Unit.h
  ${CMAKE_CURRENT_LIST_DIR}/Sapi4Unit.cpp ${CMAKE_CURRENT_LIST_DIR}/Sapi4Unit.h
)
list(APPEND VORLIX_SPEECH_LIBS PkgConfig::VORLIX_ENGINE_DEPS
  flite_cmu_us_kal flite_cmu_us_kal16 flite_cmu_us_slt flite_cmu_us_awb flite_cmu_us_rms
  flite_usenglish flite_cmulex flite m Threads::Threads)
find_package(Threads REQUIRED)
