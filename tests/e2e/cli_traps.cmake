# SPDX-License-Identifier: GPL-3.0-or-later
# What a newcomer meets with the command-line tools (files kept, options done or refused,
# stereo receivers, damaged recordings, --help and exit codes).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME e2e_cli_traps COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/cli_traps_e2e.py ${CMAKE_BINARY_DIR})
set_tests_properties(e2e_cli_traps PROPERTIES LABELS e2e TIMEOUT 600)
