# Cross-build for 64-bit Windows with Debian's mingw-w64 compilers.
# The posix-thread variants are required: the win32-thread ones lack std::mutex
# and std::thread.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_PREFIX_PATH=/var/cache/orvel-win/<key>
#
# Programs link fully static, so a built .exe needs no DLL beside it (a missing
# libgcc_s_seh-1.dll makes wine exit 53 without a message). Tests run under
# wine through CMAKE_CROSSCOMPILING_EMULATOR; -DORVEL_WIN_NO_EMULATOR=ON leaves
# it out (the dependency builds do, so no configure check ever starts wine).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORVEL_WIN_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${ORVEL_WIN_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVEL_WIN_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${ORVEL_WIN_TRIPLET}-windres)

# Target libraries come only from the mingw tree and from the dependency
# prefixes given on the command line; programs (moc, rcc, uic, wine) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ORVEL_WIN_TRIPLET})
foreach(_orvel_prefix IN LISTS CMAKE_PREFIX_PATH)
    list(APPEND CMAKE_FIND_ROOT_PATH "${_orvel_prefix}")
endforeach()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads only the target trees' .pc files, never the host's.
set(_orvel_pc_dirs /usr/${ORVEL_WIN_TRIPLET}/lib/pkgconfig)
foreach(_orvel_prefix IN LISTS CMAKE_PREFIX_PATH)
    list(APPEND _orvel_pc_dirs "${_orvel_prefix}/lib/pkgconfig")
endforeach()
string(REPLACE ";" ":" _orvel_pc_dirs "${_orvel_pc_dirs}")
set(ENV{PKG_CONFIG_LIBDIR} "${_orvel_pc_dirs}")
set(ENV{PKG_CONFIG_PATH} "")

# A cross-built Qt runs the host's moc, rcc and uic (same Qt version).
if(NOT DEFINED QT_HOST_PATH)
    set(QT_HOST_PATH /usr CACHE PATH "Host Qt prefix")
endif()
if(NOT DEFINED QT_HOST_PATH_CMAKE_DIR)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Host Qt CMake folder")
endif()

set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
# Prefer .a archives over import libraries wherever both exist.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a .lib .dll.a)

if(NOT ORVEL_WIN_NO_EMULATOR)
    find_program(ORVEL_WINE NAMES wine wine64 wine-stable)
    if(ORVEL_WINE)
        set(CMAKE_CROSSCOMPILING_EMULATOR "${ORVEL_WINE}")
    endif()
endif()
