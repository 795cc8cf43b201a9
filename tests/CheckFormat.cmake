# Every C++ file of src/, tests/, bench/ and tools/ must be formatted with .clang-format
# (clang-format 14, `make format`), so formatting changes never mix with real changes.
#
#   cmake -DSOURCE_DIR=<repo> -P CheckFormat.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<repo> -P CheckFormat.cmake")
endif()

find_program(CLANG_FORMAT NAMES clang-format-14 clang-format)
if(NOT CLANG_FORMAT)
  # The test's SKIP_REGULAR_EXPRESSION matches this line.
  message(STATUS "format_check skipped: clang-format not found (tools/setup.sh installs it)")
  return()
endif()
execute_process(COMMAND "${CLANG_FORMAT}" --version OUTPUT_VARIABLE version
                OUTPUT_STRIP_TRAILING_WHITESPACE)

set(files "")
foreach(folder src tests bench tools)
  file(GLOB_RECURSE found LIST_DIRECTORIES false
       "${SOURCE_DIR}/${folder}/*.cpp" "${SOURCE_DIR}/${folder}/*.h")
  list(APPEND files ${found})
endforeach()
list(SORT files)
list(LENGTH files count)

execute_process(COMMAND "${CLANG_FORMAT}" --dry-run --Werror ${files}
                WORKING_DIRECTORY "${SOURCE_DIR}"
                RESULT_VARIABLE rc ERROR_VARIABLE diagnostics)
if(NOT rc EQUAL 0)
  string(REGEX MATCHALL "[^\n]*: error: code should be clang-formatted" lines "${diagnostics}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE ":[0-9]+:[0-9]+: error: .*" "" name "${line}")
    file(RELATIVE_PATH name "${SOURCE_DIR}" "${name}")
    list(APPEND names "  ${name}")
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(JOIN names "\n" report)
  message(FATAL_ERROR "${diagnostics}\n"
          "Not formatted with ${version} (run `make format`):\n${report}")
endif()
message(STATUS "${count} files formatted as .clang-format says (${version})")
