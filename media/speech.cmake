# Speech: espeak-ng synthesizes (loaded at the first speech: SpeechEngine.cpp), libsamplerate brings its output to
# 8 kHz.
target_link_libraries(zz_media PUBLIC samplerate ${CMAKE_DL_LIBS})
