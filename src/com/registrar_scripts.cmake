# tarn_registrar_scripts(IDL <idl> FOLDER <folder> [CLASS_VERSION <n.n>]
#                        CLASSES "<coclass>|<ProgID>|<threading model>" ...)
# Writes <folder>/<coclass>.rgs for each class from one template (class.rgs.in):
# the ProgID (and its ".1" version), the class key with its server, threading
# model and type library.  The CLSIDs are read from the IDL; the type library's
# identifier is the registrar's %LIBID%, which registration takes from the type
# library the module carries.  CLASS_VERSION adds the class key's Version value.
function(tarn_registrar_scripts)
    cmake_parse_arguments(ARG "" "IDL;FOLDER;CLASS_VERSION" "CLASSES" ${ARGN})
    file(READ ${ARG_IDL} idl)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARG_IDL})
    set(CLASS_VERSION_ENTRY "")
    if(ARG_CLASS_VERSION)
        set(CLASS_VERSION_ENTRY "\n\t\t\tVersion = s '${ARG_CLASS_VERSION}'")
    endif()
    foreach(entry ${ARG_CLASSES})
        string(REPLACE "|" ";" fields "${entry}")
        list(GET fields 0 CLASS)
        list(GET fields 1 PROGID)
        list(GET fields 2 THREADING)
        if(NOT idl MATCHES "uuid\\(([0-9A-Fa-f-]+)\\)[^]]*\\][ \t\r\n]*coclass ${CLASS}[ \t\r\n{]")
            message(FATAL_ERROR "${ARG_IDL}: no coclass ${CLASS}")
        endif()
        set(CLSID ${CMAKE_MATCH_1})
        configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/class.rgs.in ${ARG_FOLDER}/${CLASS}.rgs @ONLY NEWLINE_STYLE CRLF)
    endforeach()
endfunction()
