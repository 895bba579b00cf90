# unitext: the text layer's UTF-7 codec against glibc iconv's UTF-7, on the
# same mixed text in one run.
if(benchmark_FOUND)
  add_executable(unitext ${CMAKE_CURRENT_LIST_DIR}/UniTextBench.cpp)
  target_link_libraries(unitext PRIVATE unicode benchmark::benchmark benchmark::benchmark_main)
endif()
