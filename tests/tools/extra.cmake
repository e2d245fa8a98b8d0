# The file-serving tests restore through libkelvane.so, loaded at run time as a host does.
add_dependencies(test_${dir} kelvane)
