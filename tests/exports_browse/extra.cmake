# The browsing tests load libkelvane.so at run time, as a host does: it must be built first.
add_dependencies(test_${dir} kelvane)
# The trace tests run the host program, each in a folder of its own.
if(TARGET kelvane-host)
  add_dependencies(test_${dir} kelvane-host)
endif()
