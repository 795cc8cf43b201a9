# Installs the build into a temporary prefix and checks what a desktop gets: the programs,
# the photo browser, the resources and built-in frames, the desktop entry, the icons, the
# AppStream metadata (validated by the desktop's own tools) and manual pages that say what
# the installed programs' --help says.
#
#   cmake -DBUILD_DIR=<build> -DVERSION=<x.y.z> -DINSTALL_RESOURCES=<configured share/velluma>
#         -DSOURCE_RESOURCES=<repo>/resources
#         -P CheckInstall.cmake
cmake_minimum_required(VERSION 3.25)
foreach(variable BUILD_DIR VERSION INSTALL_RESOURCES SOURCE_RESOURCES)
  if(NOT ${variable})
    message(FATAL_ERROR "CheckInstall.cmake needs -D${variable}=...")
  endif()
endforeach()

set(problems "")
macro(problem text)
  list(APPEND problems "  ${text}")
endmacro()

string(RANDOM LENGTH 10 suffix)
set(prefix "/tmp/velluma-install-${suffix}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  file(REMOVE_RECURSE "${prefix}")
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()

set(app "app.velluma.Velluma")
set(expected
  bin/velluma bin/velluma-frame
  libexec/velluma/MediaBrowser.app/Contents/MacOS/vOdavuRevadiz
  share/velluma/FactoryDefaults.plist share/velluma/document_wflow_template
  share/velluma/velluma.svg share/velluma/drophere.svg share/velluma/borders/collections.plist
  share/applications/${app}.desktop share/metainfo/${app}.metainfo.xml
  share/icons/hicolor/scalable/apps/velluma.svg
  share/man/man1/velluma.1 share/man/man1/velluma-frame.1)
set(sizes 16 22 24 32 48 64 128 256)
foreach(size IN LISTS sizes)
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/velluma.png)
endforeach()
foreach(file IN LISTS expected)
  if(NOT EXISTS "${prefix}/${file}")
    problem("missing: ${file}")
  endif()
endforeach()
# The desktop's files only where the desktop looks for them.
file(GLOB stray "${prefix}/share/velluma/*.desktop" "${prefix}/share/velluma/*.metainfo.xml"
     "${prefix}/share/velluma/icons")
if(stray)
  problem("in share/velluma but not used there: ${stray}")
endif()
foreach(program bin/velluma bin/velluma-frame
        libexec/velluma/MediaBrowser.app/Contents/MacOS/vOdavuRevadiz)
  execute_process(COMMAND test -x "${prefix}/${program}" RESULT_VARIABLE rc)
  if(EXISTS "${prefix}/${program}" AND NOT rc EQUAL 0)
    problem("not executable: ${program}")
  endif()
endforeach()
# Every built-in collection, with its frames.
file(GLOB_RECURSE shipped_frames RELATIVE "${SOURCE_RESOURCES}/borders"
     "${SOURCE_RESOURCES}/borders/*")
foreach(frame IN LISTS shipped_frames)
  if(NOT EXISTS "${prefix}/share/velluma/borders/${frame}")
    problem("built-in frame not installed: ${frame}")
  endif()
endforeach()

# The PNG header's width and height (IHDR, bytes 16 to 23) say the size in the folder name.
foreach(size IN LISTS sizes)
  set(png "${prefix}/share/icons/hicolor/${size}x${size}/apps/velluma.png")
  if(EXISTS "${png}")
    file(READ "${png}" header OFFSET 16 LIMIT 8 HEX)
    math(EXPR hex "${size}" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "${hex}" 2 -1 hex)
    string(LENGTH "${hex}" length)
    while(length LESS 8)
      string(PREPEND hex "0")
      string(LENGTH "${hex}" length)
    endwhile()
    if(NOT header STREQUAL "${hex}${hex}")
      problem("${size}x${size}/apps/velluma.png has the header ${header}")
    endif()
  endif()
endforeach()

# The desktop's validators.
set(desktop "${prefix}/share/applications/${app}.desktop")
set(metainfo "${prefix}/share/metainfo/${app}.metainfo.xml")
execute_process(COMMAND desktop-file-validate "${desktop}" RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR out MATCHES "error|warning")
  problem("desktop-file-validate: ${out}")
endif()
execute_process(COMMAND appstreamcli validate --no-net "${metainfo}" RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  problem("appstreamcli validate: ${out}")
endif()
file(READ "${metainfo}" text)
if(NOT text MATCHES "<release version=\"([^\"]+)\"" OR NOT CMAKE_MATCH_1 STREQUAL VERSION)
  problem("the newest release in the metadata is not ${VERSION}")
endif()
if(NOT text MATCHES "<launchable type=\"desktop-id\">${app}.desktop</launchable>")
  problem("the metadata does not launch ${app}.desktop")
endif()
file(READ "${desktop}" text)
if(NOT text MATCHES "\nIcon=velluma\n" OR NOT text MATCHES "\nExec=velluma -- %F\n")
  problem("the desktop entry does not start velluma with its icon")
endif()
# The README quotes the entry's command line as it is.
file(READ "${SOURCE_RESOURCES}/../README.md" readme)
if(text MATCHES "\nExec=([^\n]*)\n")
  string(FIND "${readme}" "`Exec=${CMAKE_MATCH_1}`" quoted)
  if(quoted EQUAL -1)
    problem("the README does not quote the desktop entry's Exec=${CMAKE_MATCH_1}")
  endif()
endif()

# Each manual page, rendered, holds its program's --help: the synopsis from the usage
# line, the rest word for word. The installed velluma-frame names its frames folder under
# the prefix it runs from; the page names the configured one.
foreach(program velluma velluma-frame)
  set(page "${prefix}/share/man/man1/${program}.1")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                          ASAN_OPTIONS=detect_leaks=0 "${prefix}/bin/${program}" --help
                  RESULT_VARIABLE rc OUTPUT_VARIABLE help ERROR_QUIET)
  execute_process(COMMAND groff -man -Tascii -P-c -P-b -P-o -P-u -rLL=300n "${page}"
                  RESULT_VARIABLE rendered_rc OUTPUT_VARIABLE rendered ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT rendered_rc EQUAL 0)
    problem("${program}: --help or groff failed: ${err}")
    continue()
  endif()
  string(REPLACE "${prefix}/share/velluma" "${INSTALL_RESOURCES}" help "${help}")
  string(FIND "${help}" "\n" end)
  string(SUBSTRING "${help}" 0 ${end} usage)
  string(SUBSTRING "${help}" ${end} -1 body)
  string(REPLACE "Usage: " "" usage "${usage}")
  string(REGEX REPLACE "[ \t\r\n]+" " " body "${body}")
  string(REGEX REPLACE "[ \t\r\n]+" " " rendered "${rendered}")
  string(FIND "${rendered}" "SYNOPSIS ${usage} DESCRIPTION" at)
  if(at LESS 0)
    problem("${program}.1: no synopsis '${usage}'")
  endif()
  string(FIND "${rendered}" "${body}" at)
  if(at LESS 0)
    problem("${program}.1 does not say what --help says:\n--help:${body}\npage:${rendered}")
  endif()
  if(program STREQUAL "velluma-frame")
    foreach(collection "Classic Borders" "Film & Instant" "${INSTALL_RESOURCES}/borders")
      string(FIND "${help}" "${collection}" at)
      if(at LESS 0)
        problem("velluma-frame --help does not name ${collection}")
      endif()
    endforeach()
  endif()
endforeach()

file(REMOVE_RECURSE "${prefix}")
if(problems)
  list(JOIN problems "\n" report)
  message(FATAL_ERROR "The installation is not as it should be:\n${report}")
endif()
message(STATUS "installation checked: ${prefix}")
