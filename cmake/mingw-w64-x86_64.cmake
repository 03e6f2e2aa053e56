# Cross-builds for 64-bit Windows with MinGW-w64 on Debian.
#
# The -posix compilers are used: the default win32 thread model has no std::mutex or
# std::thread. The C and C++ runtimes are linked statically, so the programs need no
# MinGW DLLs beside them and run as they are, on Windows or under Wine.
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVELMORAN_BUILD_GUI=OFF

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELMORAN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELMORAN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMORAN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMORAN_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${VELMORAN_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VELMORAN_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

# Headers and libraries of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VELMORAN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Tests and test discovery run the Windows programs through Wine.
find_program(VELMORAN_WINE NAMES wine wine64)
if(VELMORAN_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMORAN_WINE})
endif()
