# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end checks of varnol-decode and varnol-signal on the simulated MSF, HBG, WWVB, VNG,
# RWM and WWV signals.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME e2e_stations COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/stations_e2e.py ${CMAKE_BINARY_DIR})
set_tests_properties(e2e_stations PROPERTIES LABELS e2e TIMEOUT 600)
