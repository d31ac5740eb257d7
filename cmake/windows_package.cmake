# Windows (the mingw-w64 builds): version resources and the zip package
# (included by packaging.cmake). The zip holds the programs, README.txt and
# LICENSE.txt, both with Windows line ends; its name carries the bitness
# (tessaly-1.07-win32.zip, tessaly-1.07-win64.zip).
enable_language(RC)

# FILEVERSION takes four numbers: 1.07 is 1,7,0,0.
math(EXPR version_minor "${PROJECT_VERSION_MINOR} + 0")
set(TESSALY_RC_VERSION "${PROJECT_VERSION_MAJOR},${version_minor},0,0")
foreach(program ${TESSALY_PROGRAMS})
  set(TESSALY_RC_NAME ${program})
  set(TESSALY_RC_FILE ${program}.exe)
  if(program STREQUAL "tessaly")
    set(TESSALY_RC_DESCRIPTION "Pellora hard disk check and repair")
  else()
    set(TESSALY_RC_DESCRIPTION "Undo a tessaly repair from its journal")
  endif()
  set(rc_file ${CMAKE_BINARY_DIR}/version/${program}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in ${rc_file} @ONLY)
  target_sources(${program} PRIVATE ${rc_file})
endforeach()

install(TARGETS ${TESSALY_PROGRAMS} RUNTIME DESTINATION .)

# Notepad of old knows only CRLF line ends.
foreach(text README.txt:packaging/windows/README.txt LICENSE.txt:LICENSE)
  string(REPLACE ":" ";" text ${text})
  list(GET text 0 target_name)
  list(GET text 1 source)
  file(READ ${PROJECT_SOURCE_DIR}/${source} content)
  string(REPLACE "\r\n" "\n" content "${content}")
  string(REPLACE "\n" "\r\n" content "${content}")
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/${target_name} "${content}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${source})
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${target_name} DESTINATION .)
endforeach()

set(CPACK_GENERATOR ZIP)
