# throw-hook: the cost of a C++ throw caught 20 frames up, through the crash
# reporter's raise hook and straight into the run-time's own throw, side by
# side in one process. Ends with exit status 1 when the hook costs more than
# twice the plain throw.
#   build/bench/throw-hook [ROUNDS]
add_executable(throw-hook ${CMAKE_CURRENT_LIST_DIR}/ThrowHookBench.cpp)
target_link_libraries(throw-hook PRIVATE crashreportstart ${CMAKE_DL_LIBS})
