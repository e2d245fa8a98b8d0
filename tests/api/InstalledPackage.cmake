# Installs the build at BUILD_DIR under WORK_DIR/prefix, then builds the host in CONSUMER_DIR
# against it with CMake's find_package and with pkg-config, and runs both hosts. HOST_FLAGS
# are the compiler flags a host of this build needs (the sanitizers' runtimes when the library
# was built with them). Fails on the first step that fails.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    string(JOIN " " command ${ARGN})
    message(FATAL_ERROR "${command} failed (${result}):\n${output}")
  endif()
  set(output ${output} PARENT_SCOPE)
endfunction()

# Runs a built host, which must find libkelvane.so by itself, and checks its answer.
function(run_host host)
  run(${host})
  if(NOT output STREQUAL "refused\n")
    message(FATAL_ERROR "${host} printed \"${output}\" instead of \"refused\"")
  endif()
endfunction()

separate_arguments(host_flags UNIX_COMMAND "${HOST_FLAGS}")

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(installed include/kelvane.h)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "${installed} was not installed")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/cmake-host -G ${GENERATOR}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_C_FLAGS=${HOST_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-host)
run_host(${WORK_DIR}/cmake-host/host)

file(GLOB_RECURSE pc_files ${prefix}/*/kelvane.pc)
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1)
  message(FATAL_ERROR "expected one kelvane.pc under ${prefix}, found: ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND pkg-config --cflags --libs kelvane RESULT_VARIABLE result
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know kelvane")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND pkg-config --variable=libdir kelvane OUTPUT_VARIABLE libdir
                OUTPUT_STRIP_TRAILING_WHITESPACE)
run(${C_COMPILER} -std=c11 -Wall -Werror ${host_flags} ${CONSUMER_DIR}/host.c ${flags}
    -Wl,-rpath,${libdir} -o ${WORK_DIR}/pkg-config-host)
run_host(${WORK_DIR}/pkg-config-host)
