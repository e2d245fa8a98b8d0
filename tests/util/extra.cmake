# The cipher is checked against an independent Blowfish: OpenSSL's libcrypto. Its BF_* calls
# are deprecated in OpenSSL 3 but remain the plain block interface we compare with.
find_package(OpenSSL REQUIRED)
target_link_libraries(test_${dir} PRIVATE OpenSSL::Crypto)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/${dir}/cblowfish_test.cpp
  PROPERTIES COMPILE_OPTIONS -Wno-deprecated-declarations)
