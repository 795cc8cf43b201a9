# velluma_core must stay free of widgets and QPixmap so the batch framer and the tests can
# use it without a display: no symbol of those classes may be referenced from the library.
execute_process(COMMAND nm -C --undefined-only "${CORE_LIBRARY}"
                OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${CORE_LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]*(QWidget|QPixmap|QApplication|QDialog|QMainWindow)[^\n]*" hits "${symbols}")
if(hits)
  list(REMOVE_DUPLICATES hits)
  message(FATAL_ERROR "velluma_core references widget-side classes:\n${hits}")
endif()
message(STATUS "1 passed, 0 failed")
