# ctest entries for the host build of the platform-free logic (tests/native):
# the build itself, the unit tests with the sanitizers, and one bounded run of
# each fuzz target in tests/fuzz.
set(QV_NATIVE_DIR ${CMAKE_BINARY_DIR}/native)

add_test(NAME native_build COMMAND bash ${PROJECT_SOURCE_DIR}/tools/host_build.sh ${PROJECT_SOURCE_DIR}/tests/native ${QV_NATIVE_DIR})
set_tests_properties(native_build PROPERTIES FIXTURES_SETUP native_build TIMEOUT 1200)

add_test(NAME native_unit_tests COMMAND ${QV_NATIVE_DIR}/native_unit_tests --gtest_brief=1)
set_tests_properties(native_unit_tests PROPERTIES FIXTURES_REQUIRED native_build)

file(GLOB fuzz_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
foreach(source ${fuzz_sources})
  get_filename_component(name ${source} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" target ${name})
  add_test(NAME fuzz_${target} COMMAND bash ${PROJECT_SOURCE_DIR}/tests/native/run_fuzz.sh ${QV_NATIVE_DIR} ${target})
  set_tests_properties(fuzz_${target} PROPERTIES FIXTURES_REQUIRED native_build TIMEOUT 600)
endforeach()
