# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end checks of varnol-decode's signal words, summary, gain stage and chart.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME e2e_diagnostics COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/diagnostics_e2e.py ${CMAKE_BINARY_DIR})
set_tests_properties(e2e_diagnostics PROPERTIES LABELS e2e TIMEOUT 600)
