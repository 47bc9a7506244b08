# Run by the install step: fills in the menu entry from the desktop-entry template for
# the prefix actually installed to (also with --prefix and DESTDIR), so Exec names the
# installed agent. Given: MORVANE_TEMPLATE, MORVANE_BINDIR, MORVANE_APPS_DIR, MORVANE_APP_ID.
# The agent is what the entry starts: it opens the monitor once it runs, so the entry
# reaches the monitor's window also while no agent runs yet (the monitor alone would only
# offer to start the agent and end).
set(program "${CMAKE_INSTALL_PREFIX}/${MORVANE_BINDIR}/quennet")
cmake_path(NORMAL_PATH program)
set(NAME "Morvane")
set(GENERIC_NAME "File Versions")
set(COMMENT "Keep earlier versions of your files")
set(ICON "${MORVANE_APP_ID}")
set(TRY_EXEC "${program}")
# One quoted argument: inside the quotes \ " ` $ take a backslash and % is doubled; the
# value's own escape then doubles every backslash.
set(arg "${program}")
foreach(special "\\" "\"" "`" "$")
    string(REPLACE "${special}" "\\${special}" arg "${arg}")
endforeach()
string(REPLACE "%" "%%" arg "${arg}")
string(REPLACE "\\" "\\\\" EXEC "\"${arg}\" --show-monitor")
set(EXTRA "Categories=Utility;Archiving;Qt;\nKeywords=version;backup;history;restore;\nStartupNotify=true\nStartupWMClass=kelvrim")
set(entry "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${MORVANE_APPS_DIR}/${MORVANE_APP_ID}.desktop")
message(STATUS "Installing: ${entry}")
configure_file("${MORVANE_TEMPLATE}" "${entry}" @ONLY)
