# Run by cpack once it has made a package (CPACK_POST_BUILD_SCRIPTS): a zip records the user who
# made it as each member's owner, and a Debian package's archive records each member's file
# mode as the packing user's file mode mask left it. normalize_package.py sets both as every
# build has them, so that the same commit gives the same package whoever packs it.
if(NOT CPACK_KEYREPORT_PYTHON)
    message(FATAL_ERROR "Making the packages needs python3 (Debian package python3); "
            "configure the build again once it is installed.")
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    execute_process(COMMAND "${CPACK_KEYREPORT_PYTHON}"
                            "${CMAKE_CURRENT_LIST_DIR}/normalize_package.py" "${package}"
                    RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "could not normalize ${package}")
    endif()
endforeach()
