# regex-bench: the regular-expression engine against std::regex and PCRE2
# (interpreter, no JIT) on registry text, in one run.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(PCRE2 QUIET IMPORTED_TARGET libpcre2-8)
endif()
if(PCRE2_FOUND)
  add_executable(regex-bench ${CMAKE_CURRENT_LIST_DIR}/regex_bench.cpp)
  target_link_libraries(regex-bench PRIVATE core PkgConfig::PCRE2)
  target_compile_definitions(regex-bench PRIVATE HIVESCOPE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
else()
  message(STATUS "libpcre2-8 not found: regex-bench is not built")
endif()
