# taskdialog-show: from the call to the first finished paint of a Yes/No box,
# the drawn task dialog beside a QMessageBox with the same text and buttons,
# alternating, with the median of each. Ours should be no slower.
#   build/bench/taskdialog-show [ROUNDS]   (offscreen, or xcb under xvfb-run)
if(TARGET taskdialog)
  add_executable(taskdialog-show ${CMAKE_CURRENT_LIST_DIR}/TaskDialogShowBench.cpp)
  target_link_libraries(taskdialog-show PRIVATE taskdialog)
endif()
