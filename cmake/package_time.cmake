# Read by cpack before it makes a package (CPACK_PROJECT_CONFIG_FILE). Packages made from the
# same commit are the same bytes on any machine, any day and for any user: every time stamp in
# them is SOURCE_DATE_EPOCH where it is set, else the last commit's time. Without either the
# packaging stops, rather than stamp a date that no other build would.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    find_program(KEYREPORT_GIT git)
    if(KEYREPORT_GIT)
        # A user who does not own the checkout (root in a user's clone, CI in a shared folder)
        # is refused by git's ownership check; only the commit's time is read here, so the
        # check is lifted for this one command.
        execute_process(COMMAND ${KEYREPORT_GIT} -c safe.directory=*
                                -C "${CPACK_KEYREPORT_SOURCE_DIR}" log -1 --format=%ct
                        OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                        ERROR_VARIABLE git_error ERROR_STRIP_TRAILING_WHITESPACE
                        RESULT_VARIABLE git_failed)
    else()
        set(git_failed 1)
        set(git_error "git is not installed (Debian package git)")
    endif()
    if(git_failed OR NOT commit_time MATCHES "^[0-9]+$")
        message(FATAL_ERROR "The packages' time stamp is the last commit's time, which git "
                "could not give for ${CPACK_KEYREPORT_SOURCE_DIR}: ${git_error}\n"
                "Set SOURCE_DATE_EPOCH to the time to stamp, in seconds since 1970.")
    endif()
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
endif()
