# SPDX-License-Identifier: GPL-3.0-or-later
# What `make install` and the package install holds no test hook: the window tests' driver is
# only in varnol-test.
if(TARGET varnol-test)
  set(VARNOL_SHIPPED $<TARGET_FILE:varnol> $<TARGET_FILE:varnol-decode> $<TARGET_FILE:varnol-signal>)
  if(TARGET setup)
    list(APPEND VARNOL_SHIPPED $<TARGET_FILE:setup>)
  endif()
  add_test(NAME e2e_no_test_hook
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/no_test_hook.sh ${CMAKE_BINARY_DIR}
                   $<TARGET_FILE:varnol-test> ${VARNOL_SHIPPED})
  set_tests_properties(e2e_no_test_hook PROPERTIES LABELS e2e TIMEOUT 60)
endif()
