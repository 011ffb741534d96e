find_package(GTest REQUIRED)
include(GoogleTest)

# cerebrix_add_test(<name> SOURCES <files...> LIBS <targets...>)
# One GoogleTest executable per unit, each test case registered with CTest.
function(cerebrix_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES ${ARG_PROPERTIES})
endfunction()
