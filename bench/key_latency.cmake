# Included by bench/CMakeLists.txt for bench_key_latency: it drives the keyboard window (Qt).
if(TARGET tonvik_ui)
  target_link_libraries(bench_key_latency PRIVATE tonvik_ui)
else()
  set_target_properties(bench_key_latency PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
