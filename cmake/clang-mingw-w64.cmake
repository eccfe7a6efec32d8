# Cross toolchain: Windows x86-64 with LLVM clang, against the same mingw-w64 headers and
# import libraries and the same GCC libstdc++/libgcc/winpthreads as cmake/mingw-w64.cmake,
# statically linked. A second compiler for the same program: it sees code that GCC accepts.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES clang-14 clang REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES clang++-14 clang++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLE}-windres windres REQUIRED)
set(CMAKE_C_COMPILER_TARGET ${MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_TRIPLE})

# The cross GCC's own folder holds libstdc++'s headers, libgcc and libstdc++. Debian names
# it after the thread model ("12-posix"), which clang 14 does not read as a GCC version, so
# it is named here: the highest version with the posix thread model.
file(GLOB MINGW_GCC_DIRS LIST_DIRECTORIES true /usr/lib/gcc/${MINGW_TRIPLE}/*-posix)
list(SORT MINGW_GCC_DIRS COMPARE NATURAL ORDER DESCENDING)
list(GET MINGW_GCC_DIRS 0 MINGW_GCC_DIR)
if(NOT IS_DIRECTORY "${MINGW_GCC_DIR}/include/c++")
  message(FATAL_ERROR "no posix mingw-w64 GCC under /usr/lib/gcc/${MINGW_TRIPLE} (g++-mingw-w64-x86-64-posix)")
endif()
# GCC's libstdc++ for mingw-w64 keeps its thread_local data (std::call_once's callable among
# them) in emulated TLS; clang must use the same, or those symbols do not meet.
set(CMAKE_C_FLAGS_INIT "-femulated-tls")
set(CMAKE_CXX_FLAGS_INIT "-femulated-tls")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${MINGW_GCC_DIR}/include/c++
    ${MINGW_GCC_DIR}/include/c++/${MINGW_TRIPLE} ${MINGW_GCC_DIR}/include/c++/backward)
# Linked by lld, one self-contained exe per target as with GCC, with no link time in the
# PE header. GCC's driver adds winpthreads (under libstdc++'s threads) for the posix thread
# model; clang's does not.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -static -L${MINGW_GCC_DIR} -lpthread -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows test programs run under Wine through our wrapper.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")
