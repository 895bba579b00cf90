# hs_library(NAME [DEPS dep...] [QT] [EXCLUDE regex])
# One library per folder. Sources are every .cpp/.h of the folder and of its
# sub-folders, so adding a unit needs no edit here. A folder with no source yet
# is an INTERFACE library, so dependents can already name it. EXCLUDE leaves out
# the sources (and headers) a separate target of the folder builds.
function(hs_library name)
  cmake_parse_arguments(ARG "QT" "EXCLUDE" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  file(GLOB_RECURSE hdrs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  # A program's entry point (main.cpp) belongs to its executable, not the library.
  list(FILTER srcs EXCLUDE REGEX "/main\\.cpp$")
  if(ARG_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${ARG_EXCLUDE}")
    list(FILTER hdrs EXCLUDE REGEX "${ARG_EXCLUDE}")
  endif()
  if(srcs)
    add_library(${name} STATIC ${srcs} ${hdrs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    if(ARG_QT)
      set_target_properties(${name} PROPERTIES AUTOMOC ON)
      target_link_libraries(${name} PUBLIC Qt6::Core Qt6::Gui Qt6::Widgets)
    endif()
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    if(ARG_QT)
      target_link_libraries(${name} INTERFACE Qt6::Core Qt6::Gui Qt6::Widgets)
    endif()
  endif()
endfunction()

# hs_test(FOLDER [DEPS dep...] [GUI] [EXCLUDE regex])
# One GoogleTest binary per folder of tests/, labelled with the folder's name.
# EXCLUDE leaves out the sources that need what this build lacks.
function(hs_test folder)
  cmake_parse_arguments(ARG "GUI" "EXCLUDE" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(ARG_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${ARG_EXCLUDE}")
  endif()
  if(NOT srcs)
    return()
  endif()
  set(target test_${folder})
  add_executable(${target} ${srcs})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} testsupport GTest::gtest GTest::gmock)
  if(ARG_GUI)
    target_link_libraries(${target} PRIVATE testsupport_gui)
  else()
    target_link_libraries(${target} PRIVATE GTest::gtest_main)
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${folder} TIMEOUT 600
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
