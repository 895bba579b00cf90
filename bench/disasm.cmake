# disasm: instructions per second of the crash reporter's x86-64 decoder, of
# capstone (details off) and of Zydis, side by side over one library's .text.
#   build/bench/disasm [FILE] [RUNS]
find_package(zydis QUIET)
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(CAPSTONE QUIET IMPORTED_TARGET capstone)
endif()
if(zydis_FOUND AND CAPSTONE_FOUND)
  add_executable(disasm ${CMAKE_CURRENT_LIST_DIR}/DisasmBench.cpp)
  target_link_libraries(disasm PRIVATE crashreportcore Zydis::Zydis PkgConfig::CAPSTONE)
endif()
