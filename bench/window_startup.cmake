# Included by bench/CMakeLists.txt for bench_window_startup: it starts the keyboard window (Qt).
if(TARGET tonvik_app)
  target_link_libraries(bench_window_startup PRIVATE tonvik_app tonvik_dialogs tonvik_platform_qt)
else()
  set_target_properties(bench_window_startup PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
