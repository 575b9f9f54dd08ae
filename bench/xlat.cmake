# Translation: KW_memxlt beside a plain byte-table loop and iconv.
find_package(Iconv)
if(Iconv_FOUND)
  kw_add_bench(xlat_bench ${CMAKE_CURRENT_LIST_DIR}/xlat_bench.cpp CORE LIBS Iconv::Iconv)
  target_compile_definitions(xlat_bench PRIVATE KW_BENCH_HAS_ICONV=1)
else()
  kw_add_bench(xlat_bench ${CMAKE_CURRENT_LIST_DIR}/xlat_bench.cpp CORE)
endif()
