# Everything that differs between the x86 and the x64 build, derived in one
# place from the toolchain's pointer width.  The rest of the tree uses only
# these variables.
#
#   TARN_ARCH            x86 | x64 (the build folder's name under build/)
#   TARN_TOOL_PREFIX     i686-w64-mingw32 | x86_64-w64-mingw32 (widl, objdump)
#   TARN_WIDL            widl with the target's pointer width (--win32 | --win64)
#   TARN_WIDL_WIN32      widl for 32-bit type libraries, whatever the target (the x64
#                        build's SDK carries both bitnesses' type libraries)
#   STDOLE2_DIR          the folder holding the matching stdole2.tlb
#   TARN_KERNEL_DEFINE   _X86_ | _AMD64_ for the DDK headers
#   TARN_DRIVER_ENTRY    the kernel drivers' entry symbol (stdcall-decorated on x86 only)
#   TARN_OBJDUMP         objdump for the target's PE files
#   TARN_WINE_LOADER     the Wine loader that runs the target's programs
#   TARN_SYSTEM_FOLDER   where that bitness finds regsvr32 and cscript in a win64 prefix
set(TARN_STDOLE2_X86 /usr/lib/i386-linux-gnu/wine/i386-windows)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TARN_ARCH x64)
    set(TARN_TOOL_PREFIX x86_64-w64-mingw32)
    set(TARN_WIDL_POINTERS --win64)
    set(TARN_STDOLE2_DEFAULT /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
    set(TARN_KERNEL_DEFINE _AMD64_)
    set(TARN_DRIVER_ENTRY DriverEntry)
    set(TARN_WINE_LOADER /usr/lib/wine/wine64)
    set(TARN_SYSTEM_FOLDER "C:\\windows\\system32")
elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(TARN_ARCH x86)
    set(TARN_TOOL_PREFIX i686-w64-mingw32)
    set(TARN_WIDL_POINTERS --win32)
    set(TARN_STDOLE2_DEFAULT ${TARN_STDOLE2_X86})
    set(TARN_KERNEL_DEFINE _X86_)
    set(TARN_DRIVER_ENTRY _DriverEntry@8)
    set(TARN_WINE_LOADER /usr/lib/wine/wine)
    set(TARN_SYSTEM_FOLDER "C:\\windows\\syswow64")
else()
    message(FATAL_ERROR "unexpected pointer width ${CMAKE_SIZEOF_VOID_P}: use cmake/mingw-*.toolchain.cmake")
endif()

set(STDOLE2_DIR ${TARN_STDOLE2_DEFAULT} CACHE PATH "Folder holding stdole2.tlb for this architecture")
if(NOT EXISTS ${STDOLE2_DIR}/stdole2.tlb)
    message(FATAL_ERROR "no stdole2.tlb in ${STDOLE2_DIR} (./tarn setup installs Wine for both architectures)")
endif()
# widl dates each type library; tools/source-date-epoch makes it the commit's date.
set(TARN_WIDL ${TARN_SOURCE_DATE} ${TARN_TOOL_PREFIX}-widl ${TARN_WIDL_POINTERS} -I${WINE_IDL_DIR} -L${STDOLE2_DIR})
set(TARN_WIDL_WIN32 ${TARN_SOURCE_DATE} i686-w64-mingw32-widl --win32 -I${WINE_IDL_DIR} -L${TARN_STDOLE2_X86})
set(TARN_OBJDUMP ${TARN_TOOL_PREFIX}-objdump)

# The four COM exports are written undecorated in the .def files; on x86 the
# linker matches them to their stdcall symbols.
if(TARN_ARCH STREQUAL x86)
    set(TARN_DEF_LINK_OPTIONS -Wl,--enable-stdcall-fixup)
else()
    set(TARN_DEF_LINK_OPTIONS)
endif()

# tarn_kernel_driver(TARGET): a WDM driver for this architecture, freestanding C
# against MinGW-w64's DDK headers, linked only against the kernel's own modules.
function(tarn_kernel_driver target)
    set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".sys" C_STANDARD 11
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
        IMPORT_PREFIX "" IMPORT_SUFFIX ".sys.a")
    target_include_directories(${target} PRIVATE ${CMAKE_FIND_ROOT_PATH}/include/ddk)
    target_compile_definitions(${target} PRIVATE ${TARN_KERNEL_DEFINE})
    target_compile_options(${target} PRIVATE -ffreestanding -fno-builtin -fno-stack-protector
                           -fno-asynchronous-unwind-tables -Wall -Wno-unknown-pragmas)
    # A missing entry symbol is only a warning to ld, and the driver would load with entry 0.
    target_link_options(${target} PRIVATE -nostdlib -fno-stack-protector -Wl,--subsystem,native
                        -Wl,--entry,${TARN_DRIVER_ENTRY} -Wl,--fatal-warnings)
    target_link_libraries(${target} PRIVATE ntoskrnl hal gcc)
endfunction()
