# The installed tree as another project sees it: tests/consumer is built
# against a staged install, once finding kwutil as a CMake package and once
# through pkg-config, and run. A cross build cannot run what it builds (nor
# configure a project for its target without its toolchain file): skipped.
if(CMAKE_CROSSCOMPILING)
  message(STATUS "consumer tests skipped: cross compiling")
  return()
endif()
set(_kw_consumer_flags "")
if(KW_SANITIZE)
  # The staged library needs the sanitizer runtime loaded first.
  set(_kw_consumer_flags "-fsanitize=address,undefined")
endif()
set(_kw_finders cmake)
find_program(KW_PKG_CONFIG NAMES pkg-config pkgconf)
if(KW_PKG_CONFIG)
  list(APPEND _kw_finders pkgconfig)
else()
  message(STATUS "consumer test through pkg-config skipped: no pkg-config")
endif()
foreach(find ${_kw_finders})
  add_test(NAME consumer.${find}
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DSTAGE=${PROJECT_BINARY_DIR}/consumer-stage-${find}
      -DSOURCE=${PROJECT_SOURCE_DIR}/tests/consumer
      -DWORK=${PROJECT_BINARY_DIR}/consumer-${find}
      -DFIND=${find}
      -DGENERATOR=${CMAKE_GENERATOR}
      -DC_COMPILER=${CMAKE_C_COMPILER}
      -DC_FLAGS=${_kw_consumer_flags}
      -P ${PROJECT_SOURCE_DIR}/tests/consumer/run.cmake)
endforeach()
