# SPDX-License-Identifier: GPL-3.0-or-later
# Window tests of the installer: the real `setup` program under Xvfb, driven through the X test
# extension by setup_gui_driver, with screenshots kept in the build folder.
if(TARGET setup)
  find_package(wxWidgets 3.2 REQUIRED COMPONENTS core base)
  add_executable(setup_gui_driver ${CMAKE_CURRENT_LIST_DIR}/setup_gui_driver.cpp)
  # wx settings for this target only, so other window tests here are not affected.
  target_include_directories(setup_gui_driver SYSTEM PRIVATE ${wxWidgets_INCLUDE_DIRS})
  target_compile_definitions(setup_gui_driver PRIVATE ${wxWidgets_DEFINITIONS})
  target_compile_options(setup_gui_driver PRIVATE ${wxWidgets_CXX_FLAGS})
  target_link_libraries(setup_gui_driver PRIVATE ${wxWidgets_LIBRARIES})
  add_test(NAME gui_setup
           COMMAND xvfb-run -a -s "-screen 0 1024x768x24"
                   bash ${CMAKE_CURRENT_LIST_DIR}/setup_gui_test.sh
                   $<TARGET_FILE:setup> $<TARGET_FILE:setup_gui_driver>
                   ${CMAKE_CURRENT_BINARY_DIR}/setup_gui)
  set_tests_properties(gui_setup PROPERTIES LABELS gui TIMEOUT 180)
endif()
