# search-bench: the registry search over a whole hive file mounted as
# HKEY_LOCAL_MACHINE\TEMPHIVE, against "reglookup HIVE | grep -c -i TERM".
#   build/bench/search-bench HIVE TERM [RUNS]
add_executable(search-bench ${CMAKE_CURRENT_LIST_DIR}/SearchBench.cpp)
target_link_libraries(search-bench PRIVATE core)
