# SPDX-License-Identifier: GPL-3.0-or-later
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME e2e_dcf77 COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/dcf77_e2e.py ${CMAKE_BINARY_DIR})
set_tests_properties(e2e_dcf77 PROPERTIES LABELS e2e TIMEOUT 600)
