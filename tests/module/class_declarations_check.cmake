# Feeds class declarations through tarn_write_class_files and compiles the
# object map each one writes: a declaration whose threading model does not fit
# the class's reference counting must stop the build, a fitting one must not.
#   cmake -DSOURCE_DIR=<tree> -DWORK_DIR=<folder> -DCOMPILER=<c++> -DIDL=<idl>
#         -DFLAGS=<defines and include folders, |-separated> -P class_declarations_check.cmake
cmake_minimum_required(VERSION 3.18)
string(REPLACE "|" ";" FLAGS "${FLAGS}")
include(${SOURCE_DIR}/src/com/class_declarations.cmake)

# coclass | class header | declared threading model | the class's counting | outcome
set(cases
    "DriverEnumerator|enumerator/driver_enumerator.h|Apartment|false|builds"
    "DriverEnumerator|enumerator/driver_enumerator.h|Apartment|true|refused"
    "Rs232Driver|serial/rs232_driver.h|Both|true|builds"
    "Rs232Driver|serial/rs232_driver.h|Both|false|refused"
    "Rs232DigitalIoDriver|digitalio/rs232_digital_io_driver.h|Free|false|refused")

set(failures 0)
foreach(case ${cases})
    string(REGEX MATCH "^([^|]+)\\|([^|]+)\\|([^|]+)\\|([^|]+)\\|([^|]+)$" fields "${case}")
    set(coclass ${CMAKE_MATCH_1})
    set(header ${CMAKE_MATCH_2})
    set(threading ${CMAKE_MATCH_3})
    set(atomic ${CMAKE_MATCH_4})
    set(expected ${CMAKE_MATCH_5})
    set(folder ${WORK_DIR}/${coclass}_${threading}_${atomic})
    file(MAKE_DIRECTORY ${folder})
    # The real class, its counting restated.
    file(WRITE ${folder}/probe.h "#pragma once\n#include \"${header}\"\n"
        "template <class Base, bool Atomic>\nstruct Counted : Base {\n"
        "    static constexpr bool kAtomicRefCount = Atomic;\n};\n")
    set_property(DIRECTORY PROPERTY TARN_DECLARED_CLASSES "")
    tarn_declare_class(${coclass} PROGID Probe.${coclass} THREADING ${threading}
                       TYPE "Counted<tarn::${coclass}, ${atomic}>" HEADER probe.h)
    tarn_write_class_files(IDL ${IDL} FOLDER ${folder})
    execute_process(COMMAND ${COMPILER} -std=c++17 -fsyntax-only ${FLAGS} -I${folder} ${folder}/object_map.cpp
                    RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(rc EQUAL 0)
        set(outcome builds)
    elseif(output MATCHES "reference counting does not fit its declared threading model")
        set(outcome refused)
    else()
        set(outcome "failed otherwise:\n${output}")
    endif()
    if(outcome STREQUAL expected)
        message(STATUS "ok   ${coclass} ${threading}, kAtomicRefCount = ${atomic}: ${outcome}")
    else()
        message(STATUS "FAIL ${coclass} ${threading}, kAtomicRefCount = ${atomic}: expected ${expected}, ${outcome}")
        math(EXPR failures "${failures} + 1")
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "${failures} declaration(s) checked wrongly")
endif()
