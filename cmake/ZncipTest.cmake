find_package(GTest REQUIRED)

# zncip_add_test(name SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l])
# One GoogleTest executable, registered with CTest under its own name. Tests run under the
# offscreen platform and get the build's bin folder, where the module and the programs are. A suite
# that hangs is stopped after two minutes rather than the run's ten.
function(zncip_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    target_compile_definitions(${name} PRIVATE ZNCIP_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                                               ZNCIP_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS "${T_LABELS}" TIMEOUT 120)
endfunction()
