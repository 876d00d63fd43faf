# Installs the build into prefixes under WORK_DIR as `cmake --install --prefix P` does and
# checks the installed tree: the desktop entry starts the program of its own prefix (quoted
# where the path needs it), the program runs from there, the licence is installed. Run as
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -P CheckInstalledTree.cmake
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
    find_program(_validate desktop-file-validate)
    if(_validate)
        execute_process(COMMAND "${_validate}" "${_prefix}/share/applications/tesvano.desktop"
            RESULT_VARIABLE _status OUTPUT_VARIABLE _output ERROR_VARIABLE _output)
        if(NOT _status EQUAL 0)
            message(FATAL_ERROR "${_name}: the entry is invalid: ${_output}")
        endif()
    endif()

    # The program the entry names is there and runs (no display needed to tell its version).
    execute_process(COMMAND "${_program}" --version RESULT_VARIABLE _status
        OUTPUT_VARIABLE _version ERROR_VARIABLE _error)
    if(NOT _status EQUAL 0 OR NOT _version MATCHES "^Tesvano ")
        message(FATAL_ERROR "${_name}: ${_program} --version: ${_status} ${_version}${_error}")
    endif()

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
