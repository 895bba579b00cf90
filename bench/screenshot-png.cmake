# The crash reporter's screenshot writers: a palette PNG (Wu's quantiser) and
# the 16-grey PNG of screen-sized pictures, and Mitchell scaling; the times
# should grow with the pixel count alone. Run: build/bench/screenshot_png_bench
if(benchmark_FOUND)
  add_executable(screenshot_png_bench ${CMAKE_CURRENT_LIST_DIR}/ScreenshotPngBench.cpp)
  target_link_libraries(screenshot_png_bench PRIVATE crashreportcore benchmark::benchmark)
endif()
