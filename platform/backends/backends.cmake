# MIDI output backends that need optional system libraries. Each one is built, and gets its row in
# the backend table (platform/midi_backends.cpp), only when pkg-config finds its library.
target_sources(tonvik_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/midi_bytes.cpp)

pkg_check_modules(TONVIK_FLUIDSYNTH IMPORTED_TARGET GLOBAL fluidsynth)
if(TONVIK_FLUIDSYNTH_FOUND)
  target_sources(tonvik_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/fluidsynth_device.cpp)
  target_compile_definitions(tonvik_platform PUBLIC TONVIK_HAVE_FLUIDSYNTH)
  target_link_libraries(tonvik_platform PRIVATE PkgConfig::TONVIK_FLUIDSYNTH)
  # Offline rendering to audio files needs libsndfile as well.
  pkg_check_modules(TONVIK_SNDFILE IMPORTED_TARGET GLOBAL sndfile)
  if(TONVIK_SNDFILE_FOUND)
    target_sources(tonvik_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/audio_render.cpp)
    target_compile_definitions(tonvik_platform PUBLIC TONVIK_HAVE_AUDIO_RENDER)
    target_link_libraries(tonvik_platform PRIVATE PkgConfig::TONVIK_SNDFILE)
  endif()
endif()

pkg_check_modules(TONVIK_ALSA IMPORTED_TARGET GLOBAL alsa)
if(TONVIK_ALSA_FOUND)
  target_sources(tonvik_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/alsa_devices.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/alsa_events.cpp)
  target_compile_definitions(tonvik_platform PUBLIC TONVIK_HAVE_ALSA)
  target_link_libraries(tonvik_platform PRIVATE PkgConfig::TONVIK_ALSA)
endif()

pkg_check_modules(TONVIK_JACK IMPORTED_TARGET GLOBAL jack)
if(TONVIK_JACK_FOUND)
  target_sources(tonvik_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/jack_device.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/jack_ring.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/jack_input.cpp)
  target_compile_definitions(tonvik_platform PUBLIC TONVIK_HAVE_JACK)
  target_link_libraries(tonvik_platform PRIVATE PkgConfig::TONVIK_JACK)
endif()
