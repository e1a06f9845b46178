# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end checks of varnol-signal and varnol-decode on the simulated CHU signal.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME e2e_chu COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/chu_e2e.py ${CMAKE_BINARY_DIR})
set_tests_properties(e2e_chu PROPERTIES LABELS e2e TIMEOUT 300)
