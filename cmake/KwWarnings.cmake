# kw_set_warnings(target): the warning set every kwutil target builds with.
function(kw_set_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
    if(KW_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
    return()
  endif()
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wcast-qual -Wformat=2 -Wundef -Wnull-dereference -Wdouble-promotion
    -Wimplicit-fallthrough
    $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual>
    $<$<COMPILE_LANGUAGE:C>:-Wstrict-prototypes -Wmissing-prototypes>)
  if(KW_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# kw_set_sanitizers(target): ASan + UBSan when KW_SANITIZE is on.
function(kw_set_sanitizers target)
  if(KW_SANITIZE AND NOT MSVC)
    target_compile_options(${target} PRIVATE
      -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# Benchmarked code: on x86 keep tight loops from straddling 32-byte
# boundaries, or their speed swings from one commit to the next.
function(kw_set_code_alignment target)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|i.86" AND NOT MSVC)
    include(CheckCXXCompilerFlag)
    check_cxx_compiler_flag("-Wa,-mbranches-within-32B-boundaries" KW_HAS_BRANCH_ALIGN)
    if(KW_HAS_BRANCH_ALIGN)
      target_compile_options(${target} PRIVATE -Wa,-mbranches-within-32B-boundaries)
    endif()
  endif()
endfunction()
