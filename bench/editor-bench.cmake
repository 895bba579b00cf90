# editor-bench: our editor control beside QPlainTextEdit on a 100 MB .reg text
# of 1,000,000 lines: load, scroll to the end, replace all, undo, and the
# memory per line; each side runs in a process of its own, offscreen.
#   build/bench/editor-bench [--lines N] [--file PATH]
if(TARGET editor)
  add_executable(editor-bench ${CMAKE_CURRENT_LIST_DIR}/EditorBench.cpp)
  target_link_libraries(editor-bench PRIVATE editor Qt6::Widgets)
endif()
