# Test helpers.  A test program is one CTest entry (a Wine start costs about
# half a second, so cases are grouped per program, not registered one by one).

# The build folder that holds the prefix and both architectures' builds
# (./tarn passes it; by default the parent of this architecture's folder).
get_filename_component(TARN_BUILD_PARENT ${CMAKE_BINARY_DIR} DIRECTORY)
set(TARN_BUILD_ROOT ${TARN_BUILD_PARENT} CACHE PATH "Folder holding the Wine prefix and the x86/x64 builds")
set(TARN_TEST_ENV "TARN_ROOT=${CMAKE_SOURCE_DIR};TARN_BUILD=${TARN_BUILD_ROOT};TARN_ARCH=${TARN_ARCH}")

# tarn_add_gtest(NAME SOURCES... [LIBS libs...] [TIMEOUT seconds])
function(tarn_add_gtest name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${T_LIBS}
                          ole32 oleaut32 uuid)
    # Tests include the library's RAII helpers (platform/...) and the shared test support (common/...).
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${TARN_TEST_ENV}")
endfunction()

# tarn_add_script_test(NAME FILE [ARGS...]): a .vbs or .js run by this architecture's cscript
# behind the shared checks of tests/common/harness.*, judged by its closing line
# "N passed, M failed".
function(tarn_add_script_test name file)
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tools/run-script ${file} ${ARGN})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 ENVIRONMENT "${TARN_TEST_ENV}")
endfunction()

# tarn_add_bench(NAME SOURCES...): a program that prints figures; `./tarn bench` runs all.
function(tarn_add_bench name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE ole32 oleaut32 uuid)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/bench)
    add_custom_target(run_${name} COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>
                      DEPENDS ${name} USES_TERMINAL)
    add_dependencies(bench run_${name})
endfunction()
