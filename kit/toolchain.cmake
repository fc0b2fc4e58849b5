# CMake toolchain file of the kivos kit:
#     cmake -DCMAKE_TOOLCHAIN_FILE=<kit>/share/kivos/toolchain.cmake ...
# builds every add_executable of C or C++ sources as a kivos program through
# the kit's compiler drivers. The image is the command image; -DKIVOS_LAYOUT=roomy
# chooses the larger one for the whole project, and
#     target_link_options(<target> PRIVATE --layout=roomy)
# for a single program.
include(${CMAKE_CURRENT_LIST_DIR}/kivos-platform.cmake)
get_filename_component(KIVOS_KIT_BIN "${CMAKE_CURRENT_LIST_DIR}/../../bin" ABSOLUTE)
set(CMAKE_C_COMPILER ${KIVOS_KIT_BIN}/kivos-cc)
set(CMAKE_CXX_COMPILER ${KIVOS_KIT_BIN}/kivos-c++)

set(KIVOS_LAYOUT fixed CACHE STRING "Image layout of kivos programs: fixed (the command image) or roomy")
set_property(CACHE KIVOS_LAYOUT PROPERTY STRINGS fixed roomy)
set(CMAKE_EXE_LINKER_FLAGS_INIT --layout=${KIVOS_LAYOUT})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KIVOS_LAYOUT)
