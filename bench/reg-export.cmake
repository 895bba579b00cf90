# reg-export: times the .reg export of a whole hive file mounted as
# HKEY_LOCAL_MACHINE\TEMPHIVE, and the import of a .reg file into a hive.
#   build/bench/reg-export HIVE OUT.reg [--v4]
#   build/bench/reg-export --import IN.reg HIVE
add_executable(reg-export ${CMAKE_CURRENT_LIST_DIR}/RegExport.cpp)
target_link_libraries(reg-export PRIVATE core)
