# Writes the desktop entry at install time, when the prefix is final. Given:
# TESVANO_DESKTOP_EXEC (empty: the installed program), TESVANO_INSTALL_BINDIR,
# TESVANO_DESKTOP_TEMPLATE and TESVANO_DESKTOP_OUTPUT; CMAKE_INSTALL_PREFIX is the prefix.
if(TESVANO_DESKTOP_EXEC STREQUAL "")
    if(IS_ABSOLUTE "${TESVANO_INSTALL_BINDIR}")
        set(_program "${TESVANO_INSTALL_BINDIR}/tesvano")
    else()
        set(_program "${CMAKE_INSTALL_PREFIX}/${TESVANO_INSTALL_BINDIR}/tesvano")
    endif()
    # A plain path goes into Exec as it is. Otherwise it is quoted: inside the quotes \ " ` $
    # take a backslash, % is doubled, then every backslash is doubled again for the entry's
    # string escapes.
    if(NOT _program MATCHES "^[A-Za-z0-9/._+-]+$")
        string(REPLACE "\\" "\\\\" _program "${_program}")
        string(REPLACE "\"" "\\\"" _program "${_program}")
        string(REPLACE "`" "\\`" _program "${_program}")
        string(REPLACE "$" "\\$" _program "${_program}")
        string(REPLACE "%" "%%" _program "${_program}")
        string(REPLACE "\\" "\\\\" _program "${_program}")
        set(_program "\"${_program}\"")
    endif()
    set(TESVANO_DESKTOP_EXEC "${_program}")
endif()
configure_file("${TESVANO_DESKTOP_TEMPLATE}" "${TESVANO_DESKTOP_OUTPUT}" @ONLY)
