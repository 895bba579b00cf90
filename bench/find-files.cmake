# find-files: a recursive full-path FindFiles of a folder tree against GNU
# find over the same tree, each as a whole process.
#   build/bench/find-files [DIR] [RUNS]
add_executable(find-files ${CMAKE_CURRENT_LIST_DIR}/FindFilesBench.cpp)
target_link_libraries(find-files PRIVATE core)
