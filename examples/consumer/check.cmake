# Installs the build tree under a fresh prefix, then configures, builds and runs the consumer
# against it: the path a program outside the tree takes.
# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DCXX=... [-DLAUNCHER=...] -P check.cmake
file(REMOVE_RECURSE ${WORK_DIR})
# The README shows the program as it is.
file(READ ${SOURCE_DIR}/main.cc program)
file(READ ${SOURCE_DIR}/../../README.md readme)
string(FIND "${readme}" "```cpp\n${program}```" shown)
if(shown EQUAL -1)
  message(FATAL_ERROR "README.md does not show examples/consumer/main.cc as it is")
endif()
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER} -DCMAKE_BUILD_TYPE=Debug)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/app)
message("${out}")
if(NOT out MATCHES "unordered: consistent, [1-9][0-9]* flawed instants"
   OR NOT out MATCHES "\nordered: consistent, 0 flawed instants, second job starts in int:\\[10, 10\\]")
  message(FATAL_ERROR "unexpected output")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
