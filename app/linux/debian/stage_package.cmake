# Run by cpack after the install rules have filled its staging tree and before it builds the
# package: strips the program as Debian does (symbols, debug information and the compiler's
# notes), compresses the manual page as Debian wants it (gzip -9n, no name or time stamp) and
# adds the copyright file and the changelog in /usr/share/doc/keyreport.
set(usr ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc ${usr}/share/doc/keyreport)
set(from ${CPACK_KEYREPORT_DEBIAN_FILES})

execute_process(COMMAND ${CPACK_KEYREPORT_STRIP} --remove-section=.comment --remove-section=.note
                        ${usr}/bin/keyreport COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND gzip -9nf ${usr}/share/man/man1/keyreport.1 COMMAND_ERROR_IS_FATAL ANY)

file(MAKE_DIRECTORY ${usr}/share/doc ${doc})
file(CHMOD ${usr}/share/doc ${doc} PERMISSIONS ${CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
file(COPY_FILE ${from}/copyright ${doc}/copyright)
execute_process(COMMAND gzip -9nc ${from}/changelog OUTPUT_FILE ${doc}/changelog.gz
                COMMAND_ERROR_IS_FATAL ANY)
file(CHMOD ${doc}/copyright ${doc}/changelog.gz
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
