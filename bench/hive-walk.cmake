# hive-walk: the hive engine's whole-hive walk (and --rewrite through the
# writer); hive-walk-hivex: the same walk through libhivex, to compare with.
add_executable(hive-walk ${CMAKE_CURRENT_LIST_DIR}/HiveWalk.cpp)
target_link_libraries(hive-walk PRIVATE platform)

find_path(HIVEX_INCLUDE_DIR hivex.h)
find_library(HIVEX_LIBRARY hivex)
if(HIVEX_INCLUDE_DIR AND HIVEX_LIBRARY)
  add_executable(hive-walk-hivex ${CMAKE_CURRENT_LIST_DIR}/HiveWalkHivex.cpp)
  target_include_directories(hive-walk-hivex PRIVATE ${HIVEX_INCLUDE_DIR})
  target_link_libraries(hive-walk-hivex PRIVATE ${HIVEX_LIBRARY})
endif()
