# Install the build tree into STAGE, then configure, build and run the
# consumer project against it, found as FIND (cmake or pkgconfig).
# -DBUILD_DIR -DSTAGE -DSOURCE -DWORK -DFIND -DGENERATOR [-DC_COMPILER -DC_FLAGS]
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${cmd}\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()

file(REMOVE_RECURSE ${WORK})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGE})
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR} "")
file(GLOB_RECURSE pc_files ${STAGE}/*/kwutil.pc)
foreach(pc ${pc_files})
  get_filename_component(dir ${pc} DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} "${dir}")
endforeach()
# kwutil.pc names the prefix it was configured for; a staged copy is found
# where it lies (--define-prefix: the prefix is two folders above the file).
run(${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK} -G ${GENERATOR}
    -DKW_CONSUMER_FIND=${FIND} -DCMAKE_PREFIX_PATH=${STAGE} -DPKG_CONFIG_ARGN=--define-prefix
    -DCMAKE_C_COMPILER=${C_COMPILER} "-DCMAKE_C_FLAGS=${C_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${C_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK})
run(${WORK}/kwutil_consumer)
