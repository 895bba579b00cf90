# import-scaling: importing one key of 25,000 to 200,000 values, and one of as
# many sub-keys, beside hivexregedit --merge; prints each doubling's ratio.
#   build/bench/import-scaling [--values|--subkeys] [N ...]
add_executable(import-scaling ${CMAKE_CURRENT_LIST_DIR}/ImportScaling.cpp)
target_link_libraries(import-scaling PRIVATE core)
