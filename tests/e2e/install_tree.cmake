# make install PREFIX=... and make uninstall, into a temporary prefix.
add_test(NAME e2e_install_tree
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_tree_test.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(e2e_install_tree PROPERTIES LABELS e2e TIMEOUT 300 RUN_SERIAL TRUE)
