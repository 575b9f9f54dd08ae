# GoogleTest. A native build uses the installed package; a cross build
# (32-bit Linux, Windows) compiles it here from the sources that Debian's
# googletest package installs, with the build's own compiler and flags.
set(KW_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources for cross builds")
option(KW_GTEST_FROM_SOURCE "Build GoogleTest from KW_GTEST_SOURCE_DIR" ${CMAKE_CROSSCOMPILING})

if(KW_GTEST_FROM_SOURCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KW_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest)  # older sources do not name them
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()
