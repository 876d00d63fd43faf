# What `cmake --install` puts under the prefix: the program, its desktop entry (which also
# registers it for tesvano:// URLs), the icon in the hicolor theme's sizes, the AppStream
# metainfo, the manual page, the backup file type, the per-user installer that release archives
# carry, the updater's relaunch step, the documentation and the licence.
include(GNUInstallDirs)

add_executable(tesvano-render-icon ${CMAKE_CURRENT_LIST_DIR}/render-icon.cpp)
target_link_libraries(tesvano-render-icon PRIVATE tesvano_common Qt6::Gui)
set(_icon_svg ${PROJECT_SOURCE_DIR}/Tesvano/resources/icons/AppIcon.svg)
set(_icon_sizes 16 22 24 32 48 64 128 256 512)
set(_icon_pngs)
foreach(_size IN LISTS _icon_sizes)
    set(_png ${CMAKE_CURRENT_BINARY_DIR}/icons/${_size}x${_size}/tesvano.png)
    add_custom_command(OUTPUT ${_png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${_size}x${_size}
        COMMAND tesvano-render-icon ${_icon_svg} ${_size} ${_png}
        DEPENDS tesvano-render-icon ${_icon_svg}
        COMMENT "Rendering the ${_size}x${_size} icon" VERBATIM)
    list(APPEND _icon_pngs ${_png})
endforeach()
add_custom_target(tesvano_icons ALL DEPENDS ${_icon_pngs})

# An installation from a build that lacks a part (one that built only the program) stops
# before it writes anything, rather than leave a half-filled prefix.
set(_built "$<TARGET_FILE:tesvano-relaunch>" ${_icon_pngs})
if(TARGET tesvano)
    list(PREPEND _built "$<TARGET_FILE:tesvano>")
endif()
list(JOIN _built "\" \"" _built)
install(CODE "
    set(_missing)
    foreach(_file IN ITEMS \"${_built}\")
        if(NOT EXISTS \"\${_file}\")
            string(APPEND _missing \"\\n  \${_file}\")
        endif()
    endforeach()
    if(_missing)
        message(FATAL_ERROR \"Nothing was installed: the build lacks\${_missing}\\n\"
            \"Build all of it first: cmake --build \\\"${CMAKE_BINARY_DIR}\\\"\")
    endif()
")

# The entry starts the program of the prefix it is installed under, which is known only when
# it is installed (`cmake --install --prefix P`). A distribution package whose bin folder is on
# PATH sets plain `tesvano`.
set(TESVANO_DESKTOP_EXEC "" CACHE STRING
    "Program the installed desktop entry starts; empty: bin/tesvano of the install prefix")
# Build folders configured before kept the configure-time prefix's program in the cache.
if(TESVANO_DESKTOP_EXEC STREQUAL "${CMAKE_INSTALL_FULL_BINDIR}/tesvano")
    set_property(CACHE TESVANO_DESKTOP_EXEC PROPERTY VALUE "")
    set(TESVANO_DESKTOP_EXEC "")
endif()
install(CODE "
    set(TESVANO_DESKTOP_EXEC \"${TESVANO_DESKTOP_EXEC}\")
    set(TESVANO_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    set(TESVANO_DESKTOP_TEMPLATE \"${CMAKE_CURRENT_LIST_DIR}/tesvano.desktop.in\")
    set(TESVANO_DESKTOP_OUTPUT \"${CMAKE_CURRENT_BINARY_DIR}/install/tesvano.desktop\")
    include(\"${CMAKE_CURRENT_LIST_DIR}/DesktopEntry.cmake\")
")

if(TARGET tesvano)
    install(TARGETS tesvano RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS tesvano-relaunch RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tesvano)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/install/tesvano.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(_size IN LISTS _icon_sizes)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/icons/${_size}x${_size}/tesvano.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps)
endforeach()
install(FILES ${_icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    RENAME tesvano.svg)
# What software centres list, and the manual page (kept in step with --help by the tests).
# Its release is the version this build reports, dated the day it is built unless the release
# names its day (SOURCE_DATE_EPOCH is honoured); the screenshots are the README's, where the
# homepage's repository serves them.
set(TESVANO_RELEASE_DATE "" CACHE STRING "Release date of this version, YYYY-MM-DD; empty: today")
set(_release_date "${TESVANO_RELEASE_DATE}")
if(_release_date STREQUAL "")
    string(TIMESTAMP _release_date "%Y-%m-%d" UTC)
elseif(NOT _release_date MATCHES "^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$")
    message(FATAL_ERROR "TESVANO_RELEASE_DATE is \"${_release_date}\", not YYYY-MM-DD")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/com.quorvel.Tesvano.metainfo.xml.in
    ${CMAKE_CURRENT_BINARY_DIR}/install/com.quorvel.Tesvano.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/install/com.quorvel.Tesvano.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tesvano.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The type of backup files (*.tesvano), for file managers and file choosers.
install(FILES ${PROJECT_SOURCE_DIR}/Tesvano/resources/tesvano-backup.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/install-user
    DESTINATION ${CMAKE_INSTALL_DATADIR}/tesvano)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tesvano)
# The tesvano:// command reference, where the program looks for it beside its binary.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/docs/url-scheme/"
    DESTINATION "${TESVANO_INSTALLED_DOCS_DIR}"
    FILES_MATCHING PATTERN "*.md")
# The screenshots the README shows, where its links (docs/NAME.png) find them.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tesvano/docs
    FILES_MATCHING PATTERN "*.png" PATTERN "url-scheme" EXCLUDE)
# The GNOME Shell extension through which the lock works on GNOME, as Platform/TextInput/
# GnomeShell/ built it: available to every user of a system-wide installation; each user still
# enables it (the Permissions pane does both).
install(DIRECTORY ${PROJECT_BINARY_DIR}/Platform/TextInput/GnomeShell/extension/tesvano@quorvel.com
    DESTINATION ${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions)
