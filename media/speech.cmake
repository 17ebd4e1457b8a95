# Speech: espeak-ng synthesizes, libsamplerate brings its output to 8 kHz.
target_link_libraries(zz_media PUBLIC espeak-ng samplerate)
