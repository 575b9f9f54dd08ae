# kwtool's two outside pieces, CLI11 and xxHash, as the targets kw_cli11 and
# kw_xxhash. Both can be used as headers alone: where the build's own
# package is missing (a Windows or 32-bit build on a 64-bit Linux host), the
# host's headers are copied into the build tree, so no other host path gets
# on the compiler's include list.
include_guard(GLOBAL)

set(KW_HOST_HEADERS ${PROJECT_BINARY_DIR}/host-headers)

function(kw_copy_host_header relpath)
  find_path(_kw_host_dir ${relpath} PATHS /usr/include /usr/local/include NO_CACHE
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT _kw_host_dir)
    message(FATAL_ERROR "kwtool needs ${relpath}: install the host's package for it")
  endif()
  get_filename_component(top ${relpath} DIRECTORY)
  if(top)
    file(COPY ${_kw_host_dir}/${top} DESTINATION ${KW_HOST_HEADERS})
  else()
    file(COPY ${_kw_host_dir}/${relpath} DESTINATION ${KW_HOST_HEADERS})
  endif()
endfunction()

add_library(kw_xxhash INTERFACE)
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(KW_XXHASH QUIET IMPORTED_TARGET libxxhash)
endif()
if(TARGET PkgConfig::KW_XXHASH)
  target_link_libraries(kw_xxhash INTERFACE PkgConfig::KW_XXHASH)
else()
  kw_copy_host_header(xxhash.h)
  target_compile_definitions(kw_xxhash INTERFACE XXH_INLINE_ALL)  # xxHash compiled into its user
  target_include_directories(kw_xxhash SYSTEM INTERFACE ${KW_HOST_HEADERS})
endif()

add_library(kw_cli11 INTERFACE)
find_package(CLI11 CONFIG QUIET)
if(TARGET CLI11::CLI11)
  target_link_libraries(kw_cli11 INTERFACE CLI11::CLI11)
else()
  kw_copy_host_header(CLI/CLI.hpp)
  target_include_directories(kw_cli11 SYSTEM INTERFACE ${KW_HOST_HEADERS})
endif()
