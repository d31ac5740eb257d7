# What both mingw-w64 toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR
# and TESSALY_MINGW_PREFIX first.
# The -win32 compilers (Win32 thread model): the -posix ones link winpthreads,
# which imports KERNEL32 functions of Vista and later (GetTickCount64), and
# the 32-bit program must start on Windows 98 SE. Their C++ run-time has no
# std::thread or std::mutex; the platform layer uses Win32 threads and
# critical sections instead. Everything is linked statically so that a bare
# Windows or a fresh Wine prefix needs no compiler run-time DLLs next to the
# program.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TESSALY_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TESSALY_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${TESSALY_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESSALY_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Run cross-built test programs through Wine when a test asks for it.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
