# The real program in a private Xvfb with openbox, driven by xdotool. It holds
# keys for measured times, so it runs alone rather than beside other tests.
add_test(NAME e2e_linux
         COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/e2e_test.py $<TARGET_FILE:twindial>)
set_tests_properties(e2e_linux PROPERTIES TIMEOUT 180 LABELS e2e RUN_SERIAL TRUE)

# The snapshot on Enter: the file against the window, failed saves, a full disk.
add_test(NAME e2e_snapshot
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/snapshot_e2e.sh $<TARGET_FILE:twindial>)
set_tests_properties(e2e_snapshot PROPERTIES TIMEOUT 180 LABELS e2e RUN_SERIAL TRUE)

# Without a display the program says so and ends with a failure status
# instead of running unseen or waiting.
add_test(NAME e2e_no_display
         COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY $<TARGET_FILE:twindial>)
add_test(NAME e2e_unreachable_display
         COMMAND ${CMAKE_COMMAND} -E env DISPLAY=:1999 --unset=WAYLAND_DISPLAY $<TARGET_FILE:twindial>)
set_tests_properties(e2e_no_display e2e_unreachable_display PROPERTIES
  WILL_FAIL TRUE TIMEOUT 20 LABELS e2e)

# The notice box: the desktop's GTK dialog (owned, on top, icon, text, keys),
# and the fallbacks to SDL's box and to standard error.
add_test(NAME e2e_notice
         COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/notice_e2e_test.py $<TARGET_FILE:twindial>)
set_tests_properties(e2e_notice PROPERTIES TIMEOUT 360 LABELS e2e RUN_SERIAL TRUE)
