# search-bench: the registry search over a whole hive file mounted as
# HKEY_LOCAL_MACHINE\TEMPHIVE, against "reglookup HIVE | grep -c -i TERM" and a
# floor (one memchr pass over the file).
#   build/bench/search-bench [--window] [--ours] [-style=substring|wildcard|boolean|regexp] HIVE TERM [RUNS]
add_executable(search-bench ${CMAKE_CURRENT_LIST_DIR}/SearchBench.cpp)
target_link_libraries(search-bench PRIVATE core)
# --window runs the search through the search window too, when the windows are built.
if(TARGET app)
  target_sources(search-bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/SearchBenchWindow.cpp)
  target_link_libraries(search-bench PRIVATE app)
  target_compile_definitions(search-bench PRIVATE SEARCH_BENCH_WINDOW)
endif()
