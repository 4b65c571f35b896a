# Included by bench/CMakeLists.txt for bench_audio_start: the real start of the program (Qt) with the
# built-in synthesizer playing into a private JACK server (dummy driver), since build machines have no
# sound card.
if(TARGET tonvik_app AND TARGET PkgConfig::TONVIK_JACK AND TARGET PkgConfig::TONVIK_FLUIDSYNTH)
  target_link_libraries(bench_audio_start PRIVATE tonvik_app tonvik_dialogs tonvik_platform_qt PkgConfig::TONVIK_JACK)
else()
  set_target_properties(bench_audio_start PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
