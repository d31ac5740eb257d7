# Linux: install layout and the Debian package (included by packaging.cmake).

install(TARGETS ${TESSALY_PROGRAMS} tessaly-mkdisk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Man pages and the Debian changelog are installed compressed, as Debian
# keeps them; gzip -n leaves out the name and time stamp so that the same
# sources give the same package.
find_program(TESSALY_GZIP gzip REQUIRED)
set(compressed_docs "")
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man ${CMAKE_BINARY_DIR}/packaging)
macro(tessaly_gzip source target)
  add_custom_command(OUTPUT ${target}
                     COMMAND sh -c "${TESSALY_GZIP} -9n -c \"$0\" > \"$1\"" ${source} ${target}
                     DEPENDS ${source} VERBATIM)
  list(APPEND compressed_docs ${target})
endmacro()

foreach(program ${TESSALY_PROGRAMS} tessaly-mkdisk)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  tessaly_gzip(${PROJECT_SOURCE_DIR}/man/${program}.1 ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
tessaly_gzip(${PROJECT_SOURCE_DIR}/packaging/debian/changelog ${changelog})
add_custom_target(compressed_docs ALL DEPENDS ${compressed_docs})

# The licence as a machine-readable copyright file, and the changelog.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${changelog}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the tessaly authors <tessaly@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The first line of the control file's description is
# CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tessaly finds the Pellora portable music player's hard disk among the SCSI
devices (a player attached over USB is one), checks its boot area (the MBR
and its checksummed copies, the FAT32 boot and FSInfo sectors) and its two
FATs, and after two confirmations repairs them in place, saving the sectors
it changes in a journal first. tessaly-undo puts those sectors back from the
journal. tessaly-mkdisk writes sample disk images to try them on.")
# Directories in the package as Debian has them (rwxr-xr-x).
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
