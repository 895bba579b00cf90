# Language files: reading one of 25,000 to 400,000 sections (text, INI parse,
# lookups of every section's entries); prints each doubling's cost ratio.
# Run: build/bench/language_file_bench
add_executable(language_file_bench ${CMAKE_CURRENT_LIST_DIR}/LanguageFileBench.cpp
                                   ${PROJECT_SOURCE_DIR}/app/IniFile.cpp)
target_link_libraries(language_file_bench PRIVATE core)
