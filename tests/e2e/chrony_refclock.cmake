# SPDX-License-Identifier: GPL-3.0-or-later
add_test(NAME e2e_chrony_refclock COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/chrony_refclock_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(e2e_chrony_refclock PROPERTIES LABELS e2e TIMEOUT 900 SKIP_RETURN_CODE 77)
