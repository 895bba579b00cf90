# png-bench: decodes the PNG suite and a generated 4096 × 4096 RGBA image from
# memory with our codec and with libpng on the same bytes; prints both times.
#   build/bench/png-bench [SUITE_DIR] [RUNS]
# The suite is looked for under HIVESCOPE_TESTDATA when no folder is named.
find_package(PNG QUIET)
if(PNG_FOUND)
  add_executable(png-bench ${CMAKE_CURRENT_LIST_DIR}/PngBench.cpp)
  target_link_libraries(png-bench PRIVATE pngcodec PNG::PNG)
endif()
