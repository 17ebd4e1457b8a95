# The sound-card layer talks to ALSA.
target_link_libraries(zz_platform PUBLIC asound)
