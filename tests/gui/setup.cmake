# Window tests of the installer: the real `setup` program under Xvfb, driven through the X test
# extension by setup_gui_driver, with screenshots kept in the build folder.
if(TARGET setup)
  find_package(wxWidgets 3.2 REQUIRED COMPONENTS core base)
  include(${wxWidgets_USE_FILE})
  add_executable(setup_gui_driver ${CMAKE_CURRENT_LIST_DIR}/setup_gui_driver.cpp)
  target_link_libraries(setup_gui_driver PRIVATE ${wxWidgets_LIBRARIES})
  add_test(NAME gui_setup
           COMMAND xvfb-run -a -s "-screen 0 1024x768x24"
                   bash ${CMAKE_CURRENT_LIST_DIR}/setup_gui_test.sh
                   $<TARGET_FILE:setup> $<TARGET_FILE:setup_gui_driver>
                   ${CMAKE_CURRENT_BINARY_DIR}/setup_gui)
  set_tests_properties(gui_setup PROPERTIES LABELS gui TIMEOUT 180)
endif()
