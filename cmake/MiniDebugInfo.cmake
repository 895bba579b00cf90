# Adds a MiniDebugInfo section to a program file, as Linux distributions ship
# their stripped programs: .gnu_debugdata holds an xz-compressed ELF file with
# the symbol table of the functions that .dynsym does not name already. The
# crash reporter (through libdw) names the functions of a stripped program
# from it; line numbers stay with the full debug information.
#
#   cmake -DSYMBOLS_FROM=<file with .symtab> -DPROGRAM=<file to change>
#         -DWORK_DIR=<scratch folder> [-DOBJCOPY=..] [-DNM=..] [-DXZ=..]
#         -P MiniDebugInfo.cmake
#
# SYMBOLS_FROM may be PROGRAM itself when it is not stripped yet; an install
# with --strip has removed the table from PROGRAM, so the build tree's file
# gives it then. A program already carrying the section gets it replaced.
# Fails (a fatal error) when a tool fails; a file without a symbol table
# leaves PROGRAM unchanged with a warning.

foreach(var SYMBOLS_FROM PROGRAM WORK_DIR)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "MiniDebugInfo: ${var} is not set")
  endif()
endforeach()
foreach(tool OBJCOPY NM XZ)
  string(TOLOWER ${tool} name)
  if(NOT ${tool})
    find_program(${tool} ${name})
  endif()
  if(NOT ${tool})
    message(FATAL_ERROR "MiniDebugInfo: ${name} is not installed")
  endif()
endforeach()

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "MiniDebugInfo: ${what} failed (${rc}): ${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

# The names a list of "nm --format=posix" lines gives, with the types asked
# for (a regular expression on the type letter).
function(symbol_names listing types result)
  string(REPLACE "\n" ";" lines "${listing}")
  set(names "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^([^ ]+) (${types}) ")
      list(APPEND names "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(${result} "${names}" PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY "${WORK_DIR}")
set(debug "${WORK_DIR}/debug")
set(mini "${WORK_DIR}/mini_debuginfo")
set(keep "${WORK_DIR}/keep_symbols")
file(REMOVE "${debug}" "${mini}" "${mini}.xz" "${keep}")

execute_process(COMMAND ${NM} --format=posix --defined-only "${SYMBOLS_FROM}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE all ERROR_QUIET)
symbol_names("${all}" "[TtWi]" functions)
if(NOT rc EQUAL 0 OR NOT functions)
  message(WARNING "MiniDebugInfo: ${SYMBOLS_FROM} has no symbol table; ${PROGRAM} is left as it is")
  return()
endif()
# What the dynamic symbol table names is there already.
execute_process(COMMAND ${NM} -D --format=posix --defined-only "${SYMBOLS_FROM}"
                OUTPUT_VARIABLE dynamic ERROR_QUIET)
symbol_names("${dynamic}" "." exported)
if(exported)
  list(REMOVE_ITEM functions ${exported})
endif()
list(REMOVE_DUPLICATES functions)
list(JOIN functions "\n" keepText)
file(WRITE "${keep}" "${keepText}\n")

run("objcopy --only-keep-debug" ${OBJCOPY} --only-keep-debug "${SYMBOLS_FROM}" "${debug}")
run("objcopy (the symbol table)" ${OBJCOPY} -S --remove-section .gdb_index --remove-section .comment
    "--keep-symbols=${keep}" "${debug}" "${mini}")
run("xz" ${XZ} -z -f "${mini}")
run("objcopy --add-section" ${OBJCOPY} --remove-section .gnu_debugdata
    "--add-section" ".gnu_debugdata=${mini}.xz" "${PROGRAM}")
file(REMOVE "${debug}" "${mini}" "${mini}.xz" "${keep}")
