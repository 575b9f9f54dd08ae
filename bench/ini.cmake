# INI engine: open + lookups beside libinih's parse into a hash map +
# lookups, and a run of inserts and deletes.
find_path(KW_INIH_INCLUDE_DIR ini.h)
find_library(KW_INIH_LIBRARY inih)
if(KW_INIH_INCLUDE_DIR AND KW_INIH_LIBRARY)
  kw_add_bench(ini_bench ${CMAKE_CURRENT_LIST_DIR}/ini_bench.cpp LIBS ${KW_INIH_LIBRARY})
  target_include_directories(ini_bench PRIVATE ${KW_INIH_INCLUDE_DIR})
  target_compile_definitions(ini_bench PRIVATE KW_BENCH_HAS_INIH=1)
else()
  message(STATUS "libinih not found: ini_bench runs without its peer")
  kw_add_bench(ini_bench ${CMAKE_CURRENT_LIST_DIR}/ini_bench.cpp)
endif()
