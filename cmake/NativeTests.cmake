# The portable parts (format cores, journal core, recovery's and access's
# decisions) are tested natively: built for this machine with its own
# compiler, apart from the cross-compiled tree, as an external project
# whose test program runs in the main build's tests.
include(ExternalProject)
function(kes_native_tests name source binary test program)
  ExternalProject_Add(${name}
    SOURCE_DIR ${source}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${binary}
    CMAKE_ARGS -DKES_ROOT=${CMAKE_SOURCE_DIR} -DCMAKE_BUILD_TYPE=Release -DGTEST_SOURCE_DIR=${GTEST_SOURCE_DIR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  add_test(NAME ${test} COMMAND ${CMAKE_BINARY_DIR}/${binary}/${program})
endfunction()
