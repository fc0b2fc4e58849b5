# g++'s C++ library header directories (not its backward/ one), as the i686
# compiler lists them, in KIVOS_CXX_LIBRARY_DIRS: kivos-c++ compiles against
# them, and the kit's C++ library is built from them.
execute_process(COMMAND i686-linux-gnu-g++ -x c++ -E -v /dev/null
                OUTPUT_QUIET ERROR_VARIABLE kivos_compiler_report)
string(REPLACE "\n" ";" kivos_compiler_lines "${kivos_compiler_report}")
set(KIVOS_CXX_LIBRARY_DIRS "")
foreach(line IN LISTS kivos_compiler_lines)
    if(line MATCHES "^ +(/.*/c\\+\\+/[0-9]+(/[a-z0-9_]+-linux-gnu)?)$")
        get_filename_component(directory "${CMAKE_MATCH_1}" REALPATH)
        list(APPEND KIVOS_CXX_LIBRARY_DIRS "${directory}")
    endif()
endforeach()
if(NOT KIVOS_CXX_LIBRARY_DIRS)
    message(FATAL_ERROR "i686-linux-gnu-g++ names no C++ library header directory")
endif()
