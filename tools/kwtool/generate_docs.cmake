# cmake -DKWTOOL=<kwtool> -DWHAT=man|bash -DOUT=<file> -P generate_docs.cmake
# One generated document, written only when its bytes change.
execute_process(COMMAND ${KWTOOL} --generate ${WHAT} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${KWTOOL} --generate ${WHAT} failed: ${rc}")
endif()
file(CONFIGURE OUTPUT ${OUT} CONTENT "${text}" @ONLY NEWLINE_STYLE UNIX)
