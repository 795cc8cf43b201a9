# The folders of src/ form layers, lowest first: foundation, output, compositing, frames,
# targets, ui, app. A file may include headers of its own folder and of the folders below
# it, never of one above. cli/ is the batch framer and may use only the core layers
# (foundation to targets); browser/ may use everything but app/ and cli/. Nothing outside
# cli/ includes cli/, and only app/ includes browser/. The core folders (foundation to
# targets) hold core code only: no source of the widget library lies in one.
#
#   cmake -DSOURCE_DIR=<repo>/src [-DGUI_SOURCES=<file, one source a line>]
#         -P CheckIncludeDirection.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<src folder> -P CheckIncludeDirection.cmake")
endif()

set(layers foundation output compositing frames targets ui app)
set(folders ${layers} cli browser)

foreach(folder IN LISTS layers)
  list(FIND layers ${folder} rank)
  math(EXPR count "${rank} + 1")
  list(SUBLIST layers 0 ${count} allowed_${folder})
endforeach()
list(APPEND allowed_app browser)
set(allowed_cli foundation output compositing frames targets cli)
set(allowed_browser foundation output compositing frames targets ui browser)

set(violations "")
set(checked 0)
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE files LIST_DIRECTORIES false "${SOURCE_DIR}/${folder}/*")
  list(SORT files)
  foreach(file IN LISTS files)
    math(EXPR checked "${checked} + 1")
    # One list element per line: semicolons, brackets and backslashes would upset CMake's
    # list splitting, and no include line needs them.
    file(READ "${file}" text)
    string(REGEX REPLACE "[];[\\]" "_" text "${text}")
    string(REPLACE "\n" ";" lines "${text}")
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*[\"<]([A-Za-z_]+)/")
        set(included "${CMAKE_MATCH_1}")
        if(included IN_LIST folders AND NOT included IN_LIST allowed_${folder})
          file(RELATIVE_PATH name "${SOURCE_DIR}" "${file}")
          string(STRIP "${line}" line)
          list(APPEND violations "  src/${name}:${number}: ${line}")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

set(core_folders foundation output compositing frames targets)
if(GUI_SOURCES)
  file(STRINGS "${GUI_SOURCES}" gui_files)
  foreach(file IN LISTS gui_files)
    if(IS_ABSOLUTE "${file}")
      file(RELATIVE_PATH file "${SOURCE_DIR}" "${file}")
    endif()
    string(REGEX MATCH "^[A-Za-z_]+" folder "${file}")
    if(folder IN_LIST core_folders)
      list(APPEND violations "  src/${file}: widget-library source in a core folder")
    endif()
  endforeach()
endif()

if(violations)
  list(LENGTH violations failed)
  list(JOIN violations "\n" report)
  message(FATAL_ERROR
          "${failed} file(s) out of their layer (an include of a folder above the including file's own, or widget code in a core folder):\n${report}")
endif()
message(STATUS "${checked} files checked, no include points upwards")
