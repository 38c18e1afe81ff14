# Writes the desktop entry for the prefix being installed to and installs it.
set(exec "${CMAKE_INSTALL_PREFIX}/${LOMEX_BINDIR}/lomex")
# Desktop Entry rules: inside a quoted argument \ " ` $ are escaped with a backslash, '%' is
# doubled, and the value as a whole is a string in which each backslash is written twice.
string(REPLACE "\\" "\\\\" exec "${exec}")
string(REPLACE "\"" "\\\"" exec "${exec}")
string(REPLACE "`" "\\`" exec "${exec}")
string(REPLACE "$" "\\$" exec "${exec}")
string(REPLACE "%" "%%" exec "${exec}")
string(REPLACE "\\" "\\\\" exec "${exec}")
set(LOMEX_EXEC "\"${exec}\"")
configure_file("${LOMEX_DESKTOP_IN}" "${LOMEX_DESKTOP_OUT}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${LOMEX_DATADIR}/applications" TYPE FILE
     FILES "${LOMEX_DESKTOP_OUT}")
