# The runtime layer: *_common.cpp everywhere, *_posix.cpp or *_windows.cpp by
# host. Nothing outside this folder calls the host's runtime for console,
# case folding or file-system work.
file(GLOB KW_SOURCES_PLATFORM CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_common.cpp)
if(WIN32)
  file(GLOB _kw_host CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_windows.cpp)
else()
  file(GLOB _kw_host CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_posix.cpp)
endif()
list(APPEND KW_SOURCES_PLATFORM ${_kw_host})
