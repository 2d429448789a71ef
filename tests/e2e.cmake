# The real program in a private X session (tests/e2e/xharness.py: Xvfb,
# openbox, xdotool), read back as pixels. They hold keys for measured times,
# so they run alone rather than beside other tests.
set(e2e ${CMAKE_CURRENT_SOURCE_DIR}/e2e)

# What a user sees and does.
add_test(NAME e2e_linux COMMAND python3 ${e2e}/e2e_test.py $<TARGET_FILE:twindial>)
# Presses the program must not lose: right after the focus comes back, from
# another program or from its own notice box, and on the keypad.
add_test(NAME e2e_linux_fresh_keys COMMAND python3 ${e2e}/e2e_test.py --fresh-keys $<TARGET_FILE:twindial>)
# The snapshot on Enter: the file against the window, failed saves, a full disk.
add_test(NAME e2e_snapshot COMMAND python3 ${e2e}/snapshot_e2e.py $<TARGET_FILE:twindial>)
set_tests_properties(e2e_linux e2e_linux_fresh_keys e2e_snapshot PROPERTIES
  TIMEOUT 300 LABELS e2e RUN_SERIAL TRUE)

# Without a display the program says so in one line and ends with status 1
# instead of running unseen or waiting.
add_test(NAME e2e_no_display COMMAND python3 ${e2e}/no_display_test.py $<TARGET_FILE:twindial>)
set_tests_properties(e2e_no_display PROPERTIES TIMEOUT 60 LABELS e2e)

# The notice box: the desktop's GTK dialog (owned, on top, icon, text, keys),
# and the fallbacks to SDL's box and to standard error.
add_test(NAME e2e_notice COMMAND python3 ${e2e}/notice_e2e_test.py $<TARGET_FILE:twindial>)
set_tests_properties(e2e_notice PROPERTIES TIMEOUT 360 LABELS e2e RUN_SERIAL TRUE)

# The shake rattle through a sound server of the test's own (PulseAudio with
# a null sink, recorded from its monitor), a server that dies, and no server.
# Debian's own Python, which has the python3-numpy package the analysis needs
# (another python3 may come first on PATH).
add_test(NAME e2e_sound COMMAND /usr/bin/python3 ${e2e}/sound_e2e.py $<TARGET_FILE:twindial>)
set_tests_properties(e2e_sound PROPERTIES TIMEOUT 300 LABELS e2e RUN_SERIAL TRUE)

# Faults: the X server dies, SIGTERM and SIGINT, links planted where the
# snapshot is written; the program's behaviour, then what it left on disk.
add_test(NAME e2e_faults COMMAND python3 ${e2e}/faults_e2e.py $<TARGET_FILE:twindial>)
set_tests_properties(e2e_faults PROPERTIES TIMEOUT 300 LABELS e2e RUN_SERIAL TRUE)

# A minute of scripted use (arrows, shakes, snapshots): the program keeps
# running and its resident memory stays within 1 MiB of the warm-up's.
# tools/long_run.py runs the same for 10 minutes.
add_test(NAME e2e_long_run COMMAND python3 ${PROJECT_SOURCE_DIR}/tools/long_run.py --seconds 60 $<TARGET_FILE:twindial>)
set_tests_properties(e2e_long_run PROPERTIES TIMEOUT 300 LABELS e2e RUN_SERIAL TRUE)
