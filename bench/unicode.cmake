# The normalising wide string list: filling and sorting a key's worth of names.
if(benchmark_FOUND)
  add_executable(bench_unicode ${CMAKE_CURRENT_LIST_DIR}/bench_unicode.cpp)
  target_link_libraries(bench_unicode PRIVATE unicode benchmark::benchmark benchmark::benchmark_main)
endif()
