# Run by the install step: fills in the menu entry from the desktop-entry template for
# the prefix actually installed to (also with --prefix and DESTDIR), so Exec names the
# installed monitor. Given: MORVANE_TEMPLATE, MORVANE_BINDIR, MORVANE_APPS_DIR, MORVANE_APP_ID.
set(program "${CMAKE_INSTALL_PREFIX}/${MORVANE_BINDIR}/kelvrim")
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
string(REPLACE "\\" "\\\\" EXEC "\"${arg}\"")
set(EXTRA "Categories=Utility;Archiving;Qt;\nKeywords=version;backup;history;restore;\nStartupNotify=true\nStartupWMClass=kelvrim")
set(entry "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${MORVANE_APPS_DIR}/${MORVANE_APP_ID}.desktop")
message(STATUS "Installing: ${entry}")
configure_file("${MORVANE_TEMPLATE}" "${entry}" @ONLY)
