# Shared by the two Windows toolchains: MinGW-w64 (posix threads) from
# Debian, programs run under Wine. KW_MINGW_TRIPLET is set by the includer.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KW_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KW_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KW_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KW_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config must not hand out the build machine's libraries.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/${KW_MINGW_TRIPLET}/lib/pkgconfig")
# The GCC runtime goes into each module, so kwutil.dll and the programs need
# no libstdc++ / libgcc / winpthread DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
# Tests are discovered (at build time) and run through Wine, when there is one.
# A 64-bit program goes straight to the 64-bit loader: `wine` itself is a
# 32-bit program, which a kernel without IA-32 emulation cannot start.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  find_program(KW_WINE NAMES wine64 PATHS /usr/lib/wine)
  find_program(KW_WINE NAMES wine)
else()
  find_program(KW_WINE wine)
endif()
if(KW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KW_WINE})
endif()
