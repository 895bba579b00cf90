# mount-rss: peak memory of holding a whole hive (the engine's read-only open,
# a registry mount), beside hivexsh holding it.
#   build/bench/mount-rss HIVE
add_executable(mount-rss ${CMAKE_CURRENT_LIST_DIR}/MountRss.cpp)
target_link_libraries(mount-rss PRIVATE core)
