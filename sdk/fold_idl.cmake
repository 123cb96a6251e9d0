# Writes an IDL that compiles on its own from one that includes the project's
# headers: each `#include "header"` line is dropped and the numeric #defines of
# that header are written where the IDL uses them, so a client's IDL compiler
# needs only the standard IDL files (oaidl.idl, ocidl.idl).
#
#   cmake -DIDL=<idl> -DINCLUDE_DIR=<folder the includes are relative to> -DOUTPUT=<idl> -P fold_idl.cmake
foreach(required IDL INCLUDE_DIR OUTPUT)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "fold_idl.cmake: ${required} is not set")
    endif()
endforeach()

file(READ ${IDL} text)
string(REGEX MATCHALL "#include \"[^\"]+\"[^\n]*\n" includes "${text}")
foreach(line ${includes})
    string(REGEX REPLACE "#include \"([^\"]+)\".*" "\\1" header "${line}")
    string(STRIP "${header}" header)
    if(NOT EXISTS ${INCLUDE_DIR}/${header})
        message(FATAL_ERROR "fold_idl.cmake: ${IDL} includes ${header}, which is not in ${INCLUDE_DIR}")
    endif()
    file(STRINGS ${INCLUDE_DIR}/${header} defines REGEX "^#define [A-Za-z_][A-Za-z0-9_]* +[0-9]+ *$")
    foreach(define ${defines})
        string(REGEX REPLACE "^#define ([A-Za-z0-9_]+) +([0-9]+) *$" "\\1;\\2" pair "${define}")
        list(GET pair 0 name)
        list(GET pair 1 value)
        # Whole names only: a name is never a part of a longer one.
        string(REGEX REPLACE "([^A-Za-z0-9_])${name}([^A-Za-z0-9_])" "\\1${value}\\2" text "${text}")
    endforeach()
    string(REPLACE "${line}" "" text "${text}")
endforeach()

# Anything the preprocessor would still have to resolve means a header defines
# more than plain numbers: the output would not compile on its own.
if(text MATCHES "\n[ \t]*#" OR text MATCHES "TARN_[A-Z0-9_]+")
    message(FATAL_ERROR "fold_idl.cmake: ${IDL} still needs a preprocessor after folding "
                        "(a directive or a TARN_ name is left): fold it by hand or extend this script")
endif()
string(REGEX REPLACE "\n\n\n+" "\n\n" text "${text}")
get_filename_component(idl_name ${IDL} NAME)
file(WRITE ${OUTPUT}.tmp "// ${idl_name} as the build compiles it, with the project's headers folded in.\n${text}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
