find_package(GTest REQUIRED)
include(GoogleTest)

# cerebrix_add_test(<name> SOURCES <files...> LIBS <targets...>)
# One GoogleTest executable per unit, each test case registered with CTest.
function(cerebrix_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main cerebrix_warnings)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES ${ARG_PROPERTIES})
endfunction()

# cerebrix_add_qt_test(<name> SOURCES <files...> LIBS <targets...>)
# One Qt Test executable per unit, run on the offscreen platform. Each keeps its settings
# (where windows were left) in a folder of its own: tests run side by side must not see
# each other's.
function(cerebrix_add_qt_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Widgets Qt6::Test cerebrix_warnings)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/xdg-runtime;XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/xdg-config/${name}")
endfunction()
