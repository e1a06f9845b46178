# The window on a Linux desktop: setting the clock through a stand-in systemd-timedated on a
# private D-Bus, choosing the sound input from a private PulseAudio's sources, the keyboard's
# way through the menus, and the window's least size.
if(TARGET varnol AND TARGET fake_timedated)
  foreach(case clock_service sound_input keyboard)
    add_test(NAME gui_desktop_${case}
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/varnol_desktop_gui.sh $<TARGET_FILE:varnol>
                     $<TARGET_FILE:fake_timedated> ${case})
    set_tests_properties(gui_desktop_${case} PROPERTIES LABELS gui TIMEOUT 420 SKIP_RETURN_CODE 77)
  endforeach()
endif()
