# The sound-card layer talks to ALSA, loaded at the first open of a device (platform/audio/AlsaAudio.cpp), so
# only its headers are needed here.
