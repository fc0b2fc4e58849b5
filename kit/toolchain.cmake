# CMake toolchain file of the kivos kit:
#     cmake -DCMAKE_TOOLCHAIN_FILE=<kit>/share/kivos/toolchain.cmake ...
# builds every add_executable of C or C++ sources as a kivos program through
# the kit's compiler drivers. The image is the command image; -DKIVOS_LAYOUT=roomy
# chooses the larger one for the whole project, and
#     target_link_options(<target> PRIVATE --layout=roomy)
# for a single program. -DKIVOS_HEAP=mmap links every program with the kit's
# heap for programs that free (memory from mmap, freed blocks reused) instead
# of the 1 MiB arena; target_link_options(<target> PRIVATE --heap=mmap) does it
# for one. Programs run under the kit's kivrun wherever CMake
# runs one: add_test (when its COMMAND names the target), try_run,
# check_c_source_runs.
include(${CMAKE_CURRENT_LIST_DIR}/kivos-platform.cmake)
get_filename_component(KIVOS_KIT_BIN "${CMAKE_CURRENT_LIST_DIR}/../../bin" ABSOLUTE)
set(CMAKE_C_COMPILER ${KIVOS_KIT_BIN}/kivos-cc)
set(CMAKE_CXX_COMPILER ${KIVOS_KIT_BIN}/kivos-c++)
# An emulator of the user's own (kivrun with options, a wrapper) is kept.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KIVOS_KIT_BIN}/kivrun)
endif()

set(KIVOS_LAYOUT fixed CACHE STRING "Image layout of kivos programs: fixed (the command image) or roomy")
set_property(CACHE KIVOS_LAYOUT PROPERTY STRINGS fixed roomy)
set(KIVOS_HEAP arena CACHE STRING "Heap of kivos programs: arena (the library's 1 MiB arena) or mmap (for programs that free)")
set_property(CACHE KIVOS_HEAP PROPERTY STRINGS arena mmap)
# In the link rule, not in the cached linker flags, so that a changed
# KIVOS_LAYOUT or KIVOS_HEAP takes effect on a configured tree (and relinks); a
# target's own --layout or --heap comes later and wins.
foreach(language IN ITEMS C CXX)
    set(CMAKE_${language}_LINK_EXECUTABLE
        "<CMAKE_${language}_COMPILER> <FLAGS> <CMAKE_${language}_LINK_FLAGS> --layout=${KIVOS_LAYOUT} --heap=${KIVOS_HEAP} <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
endforeach()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KIVOS_LAYOUT KIVOS_HEAP)
