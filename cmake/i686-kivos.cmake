# Cross toolchain of the guest build: Debian's i686 compilers used as
# freestanding compilers (no host C library, no libstdc++). Programs link
# against the start-up object and the library built beside them, so checks
# compile static libraries instead of linking.
include(${CMAKE_CURRENT_LIST_DIR}/kivos-platform.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/kivos-flags.cmake)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

execute_process(
    COMMAND ${CMAKE_C_COMPILER} -print-file-name=include
    OUTPUT_VARIABLE KIVOS_COMPILER_INCLUDE OUTPUT_STRIP_TRAILING_WHITESPACE)
list(JOIN KIVOS_COMPILE_FLAGS " " kivos_compile)
list(JOIN KIVOS_CXX_FLAGS " " kivos_cxx)
list(JOIN KIVOS_LINK_FLAGS " " kivos_link)
set(CMAKE_C_FLAGS_INIT "${kivos_compile} -isystem ${KIVOS_COMPILER_INCLUDE}")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT} ${kivos_cxx}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${kivos_link}")
set(CMAKE_C_STANDARD_LIBRARIES "${KIVOS_LINK_LIBRARIES}" CACHE STRING "")
set(CMAKE_CXX_STANDARD_LIBRARIES "${KIVOS_LINK_LIBRARIES}" CACHE STRING "")
# Release code is -O2, as the command has always been built.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
