# The export tests load libkelvane.so at run time, as a host does: it must be built first.
add_dependencies(test_${dir} kelvane)
# The record walk of the reply buffers is driven directly, over buffers of exact size.
target_sources(test_${dir} PRIVATE ${CMAKE_SOURCE_DIR}/api/ReplyBuffer.cpp)
