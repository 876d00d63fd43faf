# Installs the build into prefixes under WORK_DIR as `cmake --install --prefix P` does and
# checks the installed tree: a build that lacks a part installs nothing; the desktop entry
# starts the program of its own prefix (quoted where the path needs it), the program runs from
# there and its help names the installed command reference, the entry and the AppStream
# metainfo are valid, the manual page describes every option of --help, the licence is
# installed. Run as
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -P CheckInstalledTree.cmake

# A build without its icons (as the program's target alone leaves it).
set(_icon "${BUILD_DIR}/Tesvano/icons/512x512/tesvano.png")
set(_prefix "${WORK_DIR}/lacking")
file(REMOVE_RECURSE "${_prefix}")
file(RENAME "${_icon}" "${_icon}.away")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${_prefix}"
    RESULT_VARIABLE _status OUTPUT_QUIET ERROR_VARIABLE _error)
file(RENAME "${_icon}.away" "${_icon}")
if(_status EQUAL 0 OR EXISTS "${_prefix}" OR NOT _error MATCHES "512x512/tesvano.png.*cmake --build")
    message(FATAL_ERROR "lacking: status ${_status}, prefix written or no hint: ${_error}")
endif()

find_program(_validate desktop-file-validate REQUIRED)
find_program(_appstream appstreamcli REQUIRED)
find_program(_groff groff REQUIRED)
foreach(_case "plain;tree" "spaced;install tree")
    list(GET _case 0 _name)
    list(GET _case 1 _folder)
    set(_prefix "${WORK_DIR}/${_folder}")
    file(REMOVE_RECURSE "${_prefix}")
    execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${_prefix}"
        RESULT_VARIABLE _status OUTPUT_QUIET ERROR_VARIABLE _error)
    if(NOT _status EQUAL 0)
        message(FATAL_ERROR "${_name}: cmake --install failed: ${_error}")
    endif()

    set(_program "${_prefix}/bin/tesvano")
    if(_name STREQUAL "plain")
        set(_expected "Exec=${_program} %u")
    else()
        set(_expected "Exec=\"${_program}\" %u")
    endif()
    file(STRINGS "${_prefix}/share/applications/tesvano.desktop" _exec REGEX "^Exec=")
    if(NOT _exec STREQUAL _expected)
        message(FATAL_ERROR "${_name}: the entry says \"${_exec}\", expected \"${_expected}\"")
    endif()
    # The entry, the metainfo (with the entry it launches) and the manual page are valid.
    foreach(_check "${_validate};${_prefix}/share/applications/tesvano.desktop"
            "${_appstream};validate-tree;--no-net;${_prefix}"
            "${_groff};-man;-ww;-z;${_prefix}/share/man/man1/tesvano.1")
        execute_process(COMMAND ${_check} RESULT_VARIABLE _status
            OUTPUT_VARIABLE _output ERROR_VARIABLE _output)
        if(NOT _status EQUAL 0 OR _output MATCHES "warning|error|[EW]: ")
            message(FATAL_ERROR "${_name}: ${_check}: ${_output}")
        endif()
    endforeach()

    # The program the entry names is there and runs (no display needed to tell its version).
    execute_process(COMMAND "${_program}" --version RESULT_VARIABLE _status
        OUTPUT_VARIABLE _version ERROR_VARIABLE _error)
    if(NOT _status EQUAL 0 OR NOT _version MATCHES "^Tesvano ")
        message(FATAL_ERROR "${_name}: ${_program} --version: ${_status} ${_version}${_error}")
    endif()

    # The help names the command reference of this prefix; the manual page has its options.
    execute_process(COMMAND "${_program}" --help OUTPUT_VARIABLE _help)
    string(FIND "${_help}" "\n${_prefix}/share/doc/tesvano/url-scheme/\n" _at)
    if(_at LESS 0)
        message(FATAL_ERROR "${_name}: the help names no ${_prefix}/share/doc/...: ${_help}")
    endif()
    file(READ "${_prefix}/share/man/man1/tesvano.1" _manual)
    string(REGEX REPLACE "\\\\f[BIRP]" "" _manual "${_manual}")
    string(REPLACE "\\-" "-" _manual "${_manual}")
    string(REGEX MATCHALL "\n  -[^\n]+" _options "${_help}")
    foreach(_option IN LISTS _options)
        string(REGEX MATCH "^\n  ([^ ]+(, [^ ]+)?)  +(.+)$" _ "${_option}")
        string(REPLACE ", " ";" _words "${CMAKE_MATCH_1}")
        foreach(_text IN LISTS _words ITEMS "${CMAKE_MATCH_3}")
            string(FIND "${_manual}" "${_text}" _at)
            if(_at LESS 0)
                message(FATAL_ERROR "${_name}: the manual page lacks \"${_text}\" of --help")
            endif()
        endforeach()
    endforeach()

    file(READ "${SOURCE_DIR}/LICENSE" _licence)
    if(NOT EXISTS "${_prefix}/share/doc/tesvano/LICENSE")
        message(FATAL_ERROR "${_name}: no licence under share/doc/tesvano")
    endif()
    file(READ "${_prefix}/share/doc/tesvano/LICENSE" _installed)
    if(NOT _installed STREQUAL _licence)
        message(FATAL_ERROR "${_name}: the installed licence differs from LICENSE")
    endif()
    file(REMOVE_RECURSE "${_prefix}")
endforeach()
