# markup-caption: the height of a 4 KB mark-up caption at 360 pixels
# (MeasureCaptionHeight: parse, runs, wrapping) beside QTextDocument laying
# out the same text as HTML at that width. Ours should be at least as fast.
#   build/bench/markup_caption_bench   (offscreen)
if(benchmark_FOUND AND TARGET taskdialog)
  add_executable(markup_caption_bench ${CMAKE_CURRENT_LIST_DIR}/MarkupCaptionBench.cpp)
  target_link_libraries(markup_caption_bench PRIVATE taskdialog benchmark::benchmark)
endif()
