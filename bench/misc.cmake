# The general utilities: RDC beside LZ4, LZF and zlib; the text search beside
# glibc memmem and the standard library's searchers; the scrambler alone.
find_path(KW_LZ4_INCLUDE_DIR lz4.h)
find_library(KW_LZ4_LIBRARY lz4)
find_path(KW_LZF_INCLUDE_DIR lzf.h PATH_SUFFIXES liblzf)
find_library(KW_LZF_LIBRARY lzf)
find_package(ZLIB)
if(KW_LZ4_INCLUDE_DIR AND KW_LZ4_LIBRARY AND KW_LZF_INCLUDE_DIR AND KW_LZF_LIBRARY AND ZLIB_FOUND)
  kw_add_bench(rdc_bench ${CMAKE_CURRENT_LIST_DIR}/rdc_bench.cpp
    LIBS ${KW_LZ4_LIBRARY} ${KW_LZF_LIBRARY} ZLIB::ZLIB)
  target_include_directories(rdc_bench PRIVATE ${KW_LZ4_INCLUDE_DIR} ${KW_LZF_INCLUDE_DIR})
else()
  message(STATUS "rdc_bench skipped: liblz4-dev, liblzf-dev and zlib1g-dev are needed")
endif()
kw_add_bench(textfind_bench ${CMAKE_CURRENT_LIST_DIR}/textfind_bench.cpp CORE)
kw_add_bench(scramble_bench ${CMAKE_CURRENT_LIST_DIR}/scramble_bench.cpp)
