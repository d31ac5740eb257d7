# Cross build of the Windows program with Debian's mingw-w64 (i686).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TESSALY_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
