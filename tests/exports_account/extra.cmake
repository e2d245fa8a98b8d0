# These tests load libkelvane.so at run time, as a host does: it must be built first; the
# trace tests run the host program.
add_dependencies(test_${dir} kelvane)
if(TARGET kelvane-host)
  add_dependencies(test_${dir} kelvane-host)
endif()
