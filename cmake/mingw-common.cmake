# What both mingw-w64 toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR
# and TESSALY_MINGW_PREFIX first.
# The -posix compilers carry std::thread (the test ASPI layer posts from a
# thread of its own); everything is linked statically so that a bare Windows
# or a fresh Wine prefix needs no compiler run-time DLLs next to the program.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TESSALY_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSALY_MINGW_PREFIX}-g++-posix)
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
