# value-list: the main window's value list filled for a key of 100,000
# values (the ordinary and the native listing, the merge, every row's type and
# text). Run: build/bench/value_list_bench (offscreen; setup takes a while).
if(benchmark_FOUND AND TARGET app)
  add_executable(value_list_bench ${CMAKE_CURRENT_LIST_DIR}/ValueListBench.cpp)
  target_link_libraries(value_list_bench PRIVATE app benchmark::benchmark)
endif()
