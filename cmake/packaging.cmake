# Installation and packages.
#
#   cmake --install build [--prefix DIR]   programs to bin/, man pages to
#                                          share/man/man1/, licence to
#                                          share/doc/tessaly/
#   cpack --config build/CPackConfig.cmake
#       Linux:   a Debian package, dependencies found by dpkg-shlibdeps
#       Windows: a zip per bitness (the mingw builds) with the programs,
#                README.txt and LICENSE.txt
include(GNUInstallDirs)

# The programs of both packages; the Debian one adds tessaly-mkdisk.
set(TESSALY_PROGRAMS tessaly tessaly-undo)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows_package.cmake)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/debian_package.cmake)
endif()

set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VENDOR "the tessaly authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "check and repair the hard disk of the Pellora music player")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
