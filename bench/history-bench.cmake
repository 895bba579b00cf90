# Change history: recording 10,000 changes (one transaction each) and loading
# them back. Run: build/bench/history_bench
if(benchmark_FOUND)
  add_executable(history_bench ${CMAKE_CURRENT_LIST_DIR}/HistoryBench.cpp)
  target_link_libraries(history_bench PRIVATE core benchmark::benchmark)
endif()
