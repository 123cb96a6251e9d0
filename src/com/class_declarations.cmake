# Each class of a module is declared once, in its module's CMakeLists.txt:
#
#   tarn_declare_class(<coclass> PROGID <ProgID> THREADING Apartment|Both|Free
#                      TYPE <C++ class> HEADER <header> [NO_AGGREGATION])
#
# and after the last one
#
#   tarn_write_class_files(IDL <idl> FOLDER <folder> [CLASS_VERSION <n.n>]
#                          [TRACED_MEMBERS <header>])
#
# writes into <folder>, in the order of the declarations:
#   <coclass>.rgs    the registrar script, from one template (class.rgs.in): the
#                    ProgID (and its ".1" version), the class key with its
#                    server, threading model and type library; CLASS_VERSION
#                    adds the class key's Version value;
#   classes.rc       the scripts as REGISTRY resources 101, 102, ... (the
#                    module's resource script includes it);
#   object_map.cpp   the module's object map (a source of the module), whose
#                    entries check at compile time that each class's reference
#                    counting fits its threading model (com/class_declaration.h);
#                    with TRACED_MEMBERS, the header of the generated member
#                    overrides, so each object is made with its members
#                    passing through the trace (com/traced.h).
# and names the files it wrote in TARN_CLASS_FILES, for the resource script's
# dependencies.  The CLSIDs are read from the IDL; the type library's identifier is the
# registrar's %LIBID%, which registration takes from the type library the
# module carries.
function(tarn_declare_class coclass)
    cmake_parse_arguments(ARG "NO_AGGREGATION" "PROGID;THREADING;TYPE;HEADER" "" ${ARGN})
    foreach(field PROGID THREADING TYPE HEADER)
        if(NOT ARG_${field})
            message(FATAL_ERROR "tarn_declare_class(${coclass}): ${field} is missing")
        endif()
    endforeach()
    set(models Apartment Both Free)
    if(NOT ARG_THREADING IN_LIST models)
        message(FATAL_ERROR "tarn_declare_class(${coclass}): THREADING ${ARG_THREADING} is none of ${models}")
    endif()
    set(aggregation Allowed)
    if(ARG_NO_AGGREGATION)
        set(aggregation Refused)
    endif()
    set_property(DIRECTORY APPEND PROPERTY TARN_DECLARED_CLASSES
                 "${coclass}|${ARG_PROGID}|${ARG_THREADING}|${ARG_TYPE}|${ARG_HEADER}|${aggregation}")
endfunction()

function(tarn_write_class_files)
    cmake_parse_arguments(ARG "" "IDL;FOLDER;CLASS_VERSION;TRACED_MEMBERS" "" ${ARGN})
    get_property(classes DIRECTORY PROPERTY TARN_DECLARED_CLASSES)
    if(NOT classes)
        message(FATAL_ERROR "tarn_write_class_files: no class declared (tarn_declare_class)")
    endif()
    file(READ ${ARG_IDL} idl)
    if(CMAKE_PROJECT_NAME)  # not in script mode
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARG_IDL})
    endif()
    set(CLASS_VERSION_ENTRY "")
    if(ARG_CLASS_VERSION)
        set(CLASS_VERSION_ENTRY "\n\t\t\tVersion = s '${ARG_CLASS_VERSION}'")
    endif()
    set(resource 101)
    set(resources "// Written by tarn_write_class_files from the module's class declarations.\n")
    set(headers "")
    if(ARG_TRACED_MEMBERS)
        set(headers "#include \"${ARG_TRACED_MEMBERS}\"\n")
    endif()
    set(entries "")
    set(written ${ARG_FOLDER}/classes.rc)
    foreach(declaration ${classes})
        string(REPLACE "|" ";" fields "${declaration}")
        list(GET fields 0 CLASS)
        list(GET fields 1 PROGID)
        list(GET fields 2 THREADING)
        list(GET fields 3 type)
        list(GET fields 4 header)
        list(GET fields 5 aggregation)
        if(NOT idl MATCHES "uuid\\(([0-9A-Fa-f-]+)\\)[^]]*\\][ \t\r\n]*coclass ${CLASS}[ \t\r\n{]")
            message(FATAL_ERROR "${ARG_IDL}: no coclass ${CLASS}")
        endif()
        set(CLSID ${CMAKE_MATCH_1})
        configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/class.rgs.in ${ARG_FOLDER}/${CLASS}.rgs @ONLY NEWLINE_STYLE CRLF)
        list(APPEND written ${ARG_FOLDER}/${CLASS}.rgs)
        string(APPEND resources "${resource} REGISTRY \"${CLASS}.rgs\"\n")
        string(APPEND headers "#include \"${header}\"\n")
        string(APPEND entries "    DeclaredClass<${type}, ThreadingModel::${THREADING}, Aggregation::${aggregation}>(CLSID_${CLASS}, ${resource}),\n")
        math(EXPR resource "${resource} + 1")
    endforeach()
    file(CONFIGURE OUTPUT ${ARG_FOLDER}/classes.rc CONTENT "${resources}" @ONLY)
    file(CONFIGURE OUTPUT ${ARG_FOLDER}/object_map.cpp CONTENT
"// The module's classes in the order they are registered. Written by
// tarn_write_class_files from the module's class declarations.
#include \"com/class_declaration.h\"
${headers}
namespace tarn {
namespace {

constexpr ObjectMapEntry kEntries[] = {
${entries}};

}  // namespace

const ObjectMap kModuleObjects = MakeObjectMap(kEntries);

}  // namespace tarn
" @ONLY)
    set(TARN_CLASS_FILES ${written} PARENT_SCOPE)
endfunction()
