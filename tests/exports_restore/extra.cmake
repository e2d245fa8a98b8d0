# The restore and parameter tests load libkelvane.so at run time, as a host does: it must be
# built first. The trace tests run the host program in folders of their own.
add_dependencies(test_${dir} kelvane)
if(TARGET kelvane-host)
  add_dependencies(test_${dir} kelvane-host)
endif()
