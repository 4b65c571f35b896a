# Included by bench/CMakeLists.txt for bench_input_latency: a private JACK server (dummy driver) with
# Tonvik's input and output ports and the built-in synthesizer on FluidSynth's JACK driver.
if(TARGET PkgConfig::TONVIK_JACK AND TARGET PkgConfig::TONVIK_FLUIDSYNTH AND TARGET tonvik_test_support)
  target_link_libraries(bench_input_latency PRIVATE tonvik_test_support PkgConfig::TONVIK_JACK)
else()
  set_target_properties(bench_input_latency PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
