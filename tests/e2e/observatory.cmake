# SPDX-License-Identifier: GPL-3.0-or-later
# Real WWVB reception logged by a receiver chip (tests/data/wwvb_observatory), turned into audio.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME e2e_observatory
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/observatory_e2e.py ${CMAKE_BINARY_DIR}
                 ${VARNOL_SOURCE_DIR}/tests/data/wwvb_observatory)
set_tests_properties(e2e_observatory PROPERTIES LABELS e2e TIMEOUT 600)
