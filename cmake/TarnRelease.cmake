# What makes the modules release files: built reproducibly, and shipped without
# their debug information, which is kept beside them.
#
# Two builds of one commit, in different folders at different times, write the
# same bytes: no build path reaches the output (the prefix maps below, the last
# matching one wins), and ld and objcopy take the PE time stamp from
# SOURCE_DATE_EPOCH, the commit's date (tools/source-date-epoch).
set(TARN_SOURCE_DATE ${CMAKE_SOURCE_DIR}/tools/source-date-epoch)
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=/tarn
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}=/tarn/build)
# Hardening: a stack protector on functions with arrays or addresses taken
# (MinGW's libssp, linked statically like the rest of the run time; the
# kernel drivers opt out).
add_compile_options(-fstack-protector-strong)
add_link_options(-fstack-protector-strong)
set(CMAKE_C_LINKER_LAUNCHER ${TARN_SOURCE_DATE})
set(CMAKE_CXX_LINKER_LAUNCHER ${TARN_SOURCE_DATE})

# What the shipped modules are built from compiles with TARN_SYMBOLS, so that
# their kept symbols name the library's own functions and lines, not only the
# run time's (src/ and kit/; the tests do without, to build faster).
set(TARN_SYMBOLS -g)

# tarn_shipped_module(TARGET): TARGET is a file the packages carry.  After each
# link its debug sections move to NAME.debug beside it, which a .gnu_debuglink
# section names (with its CRC), so debuggers find the symbols; the symbols zip
# collects the .debug files.  Every shipped module is listed in
# shipped-modules.txt of the build folder: what ./tarn package signs.
#
# On x86 a shipped module is marked as having no SEH handlers (NO_SEH), so
# Windows runs no exception handler from it: C++ exceptions unwind with DWARF
# tables there and nothing in the module registers a handler, and GNU ld
# writes no SafeSEH table that could list one.
function(tarn_shipped_module target)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        target_link_options(${target} PRIVATE -Wl,--no-seh)
    endif()
    set(objcopy ${TARN_SOURCE_DATE} ${TARN_TOOL_PREFIX}-objcopy)
    set(module $<TARGET_FILE_NAME:${target}>)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${objcopy} --only-keep-debug ${module} ${module}.debug
        COMMAND ${objcopy} --strip-debug --add-gnu-debuglink=${module}.debug ${module}
        WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
        COMMENT "Moving the debug information of ${target} to ${module}.debug"
        VERBATIM)
    set_property(GLOBAL APPEND PROPERTY TARN_SHIPPED_MODULES "$<TARGET_FILE:${target}>")
endfunction()

# Written once every shipped module has been declared (the end of the top-level list file).
function(tarn_write_shipped_list)
    get_property(modules GLOBAL PROPERTY TARN_SHIPPED_MODULES)
    list(JOIN modules "\n" lines)
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/shipped-modules.txt CONTENT "${lines}\n")
endfunction()
