# td-marquee: CPU time the process spends while a marquee runs for a number
# of seconds (10 by default): the dialog's self-drawn bar beside Qt's busy
# progress bar under Fusion, each shown alone. Ours should use no more.
#   build/bench/td-marquee [SECONDS]   (offscreen, or xcb under xvfb-run)
if(TARGET taskdialog)
  add_executable(td-marquee ${CMAKE_CURRENT_LIST_DIR}/TdMarqueeBench.cpp)
  target_link_libraries(td-marquee PRIVATE taskdialog)
endif()
