# GoogleTest from Debian's googletest sources, compiled with the cross toolchain.
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${GOOGLETEST_SOURCE_DIR}/googletest/src/gtest-all.cc)
  message(FATAL_ERROR "GoogleTest sources not found in ${GOOGLETEST_SOURCE_DIR} (Debian package googletest)")
endif()

add_library(gtest STATIC ${GOOGLETEST_SOURCE_DIR}/googletest/src/gtest-all.cc)
target_include_directories(gtest SYSTEM PUBLIC ${GOOGLETEST_SOURCE_DIR}/googletest/include
                                        PRIVATE ${GOOGLETEST_SOURCE_DIR}/googletest)
target_compile_options(gtest PRIVATE -w)
add_library(gtest_main STATIC ${GOOGLETEST_SOURCE_DIR}/googletest/src/gtest_main.cc)
target_link_libraries(gtest_main PUBLIC gtest)
target_compile_options(gtest_main PRIVATE -w)

# One test executable per subsystem, run as one ctest test under Wine.
function(add_wine_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QV_BUILD_DIR=${CMAKE_BINARY_DIR}" ${ARG_PROPERTIES})
endfunction()
