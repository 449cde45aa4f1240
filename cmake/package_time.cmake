# Read by cpack before it makes a package (CPACK_PROJECT_CONFIG_FILE). Packages made from the
# same commit are the same bytes on any machine and any day: every time stamp in them is the
# last commit's time, or a fixed date outside a git checkout, unless SOURCE_DATE_EPOCH is set
# already.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C "${CPACK_KEYREPORT_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE git_failed ERROR_QUIET)
    if(git_failed OR NOT commit_time MATCHES "^[0-9]+$")
        set(commit_time 1735689600) # 2025-01-01 00:00:00 UTC
    endif()
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
endif()
