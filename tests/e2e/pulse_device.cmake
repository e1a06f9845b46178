# SPDX-License-Identifier: GPL-3.0-or-later
add_test(NAME e2e_pulse_device COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/pulse_device_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(e2e_pulse_device PROPERTIES LABELS e2e TIMEOUT 300 SKIP_RETURN_CODE 77)
