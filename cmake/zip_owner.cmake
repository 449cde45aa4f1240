# Run by cpack once it has made a zip (CPACK_POST_BUILD_SCRIPTS): the zip records the user who
# made it as each member's owner, which zip_owner.py sets to root (0), so that the same
# commit gives the same zip whoever packs it.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    execute_process(COMMAND "${CPACK_KEYREPORT_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/zip_owner.py"
                            "${package}"
                    RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "could not set the owner recorded in ${package}")
    endif()
endforeach()
