# SPDX-License-Identifier: GPL-3.0-or-later
# Each program's manual page documents every option and exit code its --help prints.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(VARNOL_MAN_PAGES varnol-decode:varnol-decode varnol-signal:varnol-signal)
if(TARGET varnol)
  list(APPEND VARNOL_MAN_PAGES varnol:varnol)
endif()
if(TARGET setup)
  list(APPEND VARNOL_MAN_PAGES setup:varnol-setup)
endif()
# The programs a page may name, with their --help: NAME=PATH.
set(VARNOL_MAN_PROGRAMS)
foreach(pair ${VARNOL_MAN_PAGES})
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 target)
  list(GET pair 1 page)
  list(APPEND VARNOL_MAN_PROGRAMS ${page}=$<TARGET_FILE:${target}>)
endforeach()
foreach(pair ${VARNOL_MAN_PAGES})
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 target)
  list(GET pair 1 page)
  set(roff)
  if(TARGET man)
    set(roff ${CMAKE_BINARY_DIR}/man/${page}.1)
  endif()
  add_test(NAME man_${page}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/man_pages_test.py
                   $<TARGET_FILE:${target}> ${VARNOL_SOURCE_DIR}/docs/man/${page}.1.scd ${roff}
                   ${VARNOL_MAN_PROGRAMS})
  set_tests_properties(man_${page} PROPERTIES LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77)
endforeach()
