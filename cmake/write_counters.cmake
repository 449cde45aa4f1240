# In the coverage build a program ends through _exit and re-raised signals that first write
# the coverage counters (tests/support/coverage_hook.cpp); the usual write at exit never runs.
function(keyreport_write_counters_at_end target)
    if(KEYREPORT_COVERAGE)
        target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/coverage_hook.cpp)
        target_link_options(${target} PRIVATE LINKER:--wrap=_exit,--wrap=raise)
    endif()
endfunction()
