# crash-stacks: every thread's call stack with lines, as the bug report takes
# them, beside eu-stack -p <pid> -s on the same process.
#   build/bench/crash-stacks [THREADS] [RUNS]
add_executable(crash-stacks ${CMAKE_CURRENT_LIST_DIR}/CrashStacksBench.cpp)
target_link_libraries(crash-stacks PRIVATE crashreportcore pthread)
