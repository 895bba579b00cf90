# reg-view: times the .reg file view's tree (read, parse, key nodes and value
# records) of a whole file, as File > "Open registry file" builds it.
#   build/bench/reg-view FILE.reg [--diff] [--runs N]
# Compare with the import of the same file: build/bench/reg-export --import.
if(TARGET app)
  add_executable(reg-view ${CMAKE_CURRENT_LIST_DIR}/RegView.cpp)
  target_link_libraries(reg-view PRIVATE app)
endif()
