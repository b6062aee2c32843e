# SPDX-License-Identifier: Apache-2.0
# Compiles every unit of the program for Windows with the MinGW-w64 cross compiler: the Windows-only
# files and the Windows branches, against the toolkit's headers and the generated meta-object code.
# Only syntax and meaning are checked (-fsyntax-only), since no toolkit libraries for Windows are
# at hand; the icon resource script is compiled with the matching resource compiler.
#
# Variables: SOURCE_DIR (the project), MOCS (the libraries' and the program's generated meta-object
# code, |-separated), INCLUDES (the toolkit's include folders, |-separated), DEFINES (the project's
# compile definitions, |-separated).

find_program(CROSS_CXX NAMES x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++)
find_program(CROSS_RC NAMES x86_64-w64-mingw32-windres)
if(NOT CROSS_CXX OR NOT CROSS_RC)
    set(why "the MinGW-w64 cross compiler is missing (apt-get install g++-mingw-w64-x86-64-posix)")
    if(DEFINED ENV{CI})
        message(FATAL_ERROR "Windows compile check: ${why}")
    endif()
    message("Windows compile check skipped: ${why}")
    return()
endif()

string(REPLACE "|" ";" includes "${INCLUDES}")
# Only the toolkit's own headers: the host's C library headers and the host's platform definitions
# (the mkspecs folder) would stand in for the Windows ones.
list(REMOVE_DUPLICATES includes)
list(FILTER includes EXCLUDE REGEX "^/usr/include/?$|/mkspecs/")
string(REPLACE "|" ";" defines "${DEFINES}")
string(REPLACE "|" ";" mocs "${MOCS}")

set(flags -std=c++17 -fsyntax-only -Wall -Wextra -pedantic -Werror
    -DWIN32_LEAN_AND_MEAN -DNOMINMAX -DUNICODE -D_UNICODE "-I${SOURCE_DIR}/src")
foreach(define IN LISTS defines)
    list(APPEND flags "-D${define}")
endforeach()
# The toolkit's headers as system headers: their own warnings are not the project's.
foreach(include IN LISTS includes)
    list(APPEND flags -isystem "${include}")
endforeach()

# The compiler must really see Windows, or the check would prove nothing.
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/windows_target.cpp"
     "#include <QtGlobal>\n#if !defined(Q_OS_WIN) || defined(Q_OS_UNIX)\n#error not a Windows target\n#endif\n")
set(units "${CMAKE_CURRENT_BINARY_DIR}/windows_target.cpp")

# Every source of every layer, the per-system ones of Windows and none of the other systems'.
file(GLOB_RECURSE sources "${SOURCE_DIR}/src/*.cpp")
foreach(source IN LISTS sources)
    if(NOT source MATCHES "/platform/unix/")
        list(APPEND units "${source}")
    endif()
endforeach()
list(APPEND units ${mocs})

set(failed "")
foreach(unit IN LISTS units)
    execute_process(COMMAND "${CROSS_CXX}" ${flags} "${unit}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        list(APPEND failed "${unit}")
    endif()
endforeach()

execute_process(COMMAND "${CROSS_RC}" "${SOURCE_DIR}/resources/marrowgate.rc" -O coff
                        -o "${CMAKE_CURRENT_BINARY_DIR}/marrowgate_windows.res"
                WORKING_DIRECTORY "${SOURCE_DIR}/resources" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    list(APPEND failed "${SOURCE_DIR}/resources/marrowgate.rc")
endif()

list(LENGTH units count)
if(failed)
    string(REPLACE ";" "\n  " failed "${failed}")
    message(FATAL_ERROR "Windows compile check failed for:\n  ${failed}")
endif()
message("Windows compile check: ${count} units and the resource script compile for Windows")
