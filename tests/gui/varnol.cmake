# SPDX-License-Identifier: GPL-3.0-or-later
# The clock window's test build under Xvfb, driven by its script (VARNOL_TEST_SCRIPT): menu and
# toolbar commands are posted as clicks post them, dialogs are filled in and their buttons
# pressed, and the window's title, size, panes and check marks are recorded and checked.
if(TARGET varnol-test)
  foreach(case window jjy chu dialogs exit_capturing wave_error recording_end played_recording
               input_settings tone_station)
    add_test(NAME gui_varnol_${case}
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/varnol_gui.sh $<TARGET_FILE:varnol-test> ${case})
    set_tests_properties(gui_varnol_${case} PROPERTIES LABELS gui TIMEOUT 420)
  endforeach()
endif()
# The robust lock in the status bar's tool tip: the simulated station heard live until it locks.
if(TARGET varnol-test)
  add_test(NAME gui_varnol_robust_lock
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/varnol_gui.sh $<TARGET_FILE:varnol-test> robust_lock)
  set_tests_properties(gui_varnol_robust_lock PROPERTIES LABELS gui TIMEOUT 780)
endif()
# The same window under a window manager, with real pointer and key events and signals (the
# signals case also starts the shipped program once).
if(TARGET varnol-test)
  foreach(case strip menubar context_help signals display_lost)
    add_test(NAME gui_window_${case}
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/varnol_window_gui.sh $<TARGET_FILE:varnol-test> ${case})
    set_tests_properties(gui_window_${case} PROPERTIES LABELS gui TIMEOUT 180)
  endforeach()
  # Signals on a bare X server too: without a window manager no focus or frame events come.
  add_test(NAME gui_window_signals_no_wm
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/varnol_window_gui.sh $<TARGET_FILE:varnol-test> signals none)
  set_tests_properties(gui_window_signals_no_wm PROPERTIES LABELS gui TIMEOUT 180)
endif()
