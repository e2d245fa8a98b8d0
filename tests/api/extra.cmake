# The api tests load libkelvane.so at run time, as a host does: it must be built first.
add_dependencies(test_${dir} kelvane)
# The trace tests run the host program, each in a folder of its own.
if(TARGET kelvane-host)
  add_dependencies(test_${dir} kelvane-host)
endif()
# The frame of the exports, tested on its own for what no export can be made to do (throw).
target_sources(test_${dir} PRIVATE ${CMAKE_SOURCE_DIR}/api/ExportFrame.cpp)
# A C translation unit: the public header must serve C hosts as well.
target_sources(test_${dir} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/HostInC.c)

# C hosts linked to libkelvane.so, each run by the api tests as a program of its own.
foreach(host IN ITEMS InterposingHost CancellingHost)
  add_executable(${host} ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/hosts/${host}.c)
  target_link_libraries(${host} PRIVATE kelvane Threads::Threads)
  set_target_properties(${host} PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON)
  target_compile_definitions(test_${dir} PRIVATE ${host}_PATH="$<TARGET_FILE:${host}>")
  add_dependencies(test_${dir} ${host})
endforeach()
# The interposing host's functions are in its dynamic symbol table, where the dynamic linker
# would find them for the library.
set_target_properties(InterposingHost PROPERTIES ENABLE_EXPORTS ON)

# Installs the build into a folder of its own and builds a C host against the installed
# package, once through find_package(Kelvane) and once through pkg-config, and runs both.
add_test(NAME api.InstalledPackage
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${CMAKE_BINARY_DIR}
    -DCONSUMER_DIR=${CMAKE_CURRENT_SOURCE_DIR}/${dir}/consumer
    -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/installed-package
    -DC_COMPILER=${CMAKE_C_COMPILER}
    -DGENERATOR=${CMAKE_GENERATOR}
    "-DHOST_FLAGS=$<$<BOOL:${KELVANE_SANITIZE}>:-fsanitize=address,undefined>"
    -P ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/InstalledPackage.cmake)
