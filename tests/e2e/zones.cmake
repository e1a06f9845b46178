# SPDX-License-Identifier: GPL-3.0-or-later
# The clock step in several time zones (UTC, Berlin, New York, Kolkata, Auckland).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME e2e_zones COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/zones_e2e.py ${CMAKE_BINARY_DIR})
set_tests_properties(e2e_zones PROPERTIES LABELS e2e TIMEOUT 600)
