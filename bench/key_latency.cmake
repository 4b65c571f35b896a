# Included by bench/CMakeLists.txt for bench_key_latency: it drives the keyboard window (Qt).
if(TARGET tonvik_app)
  target_link_libraries(bench_key_latency PRIVATE tonvik_app tonvik_dialogs tonvik_platform_qt)
else()
  set_target_properties(bench_key_latency PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
