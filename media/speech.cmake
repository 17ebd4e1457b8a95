# Speech: espeak-ng synthesizes and libsamplerate brings its output to 8 kHz; both are loaded at the first speech
# (SpeechEngine.cpp), so only their headers are needed here.
