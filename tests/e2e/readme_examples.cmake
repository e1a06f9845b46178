# SPDX-License-Identifier: GPL-3.0-or-later
# The README's example commands, each run as written (the live sound-card one excepted).
add_test(NAME e2e_readme_examples
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/readme_examples.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/README.md)
set_tests_properties(e2e_readme_examples PROPERTIES LABELS e2e TIMEOUT 600)
