# What every kivos program is compiled and linked with. The guest build takes
# these through cmake/i686-kivos.cmake, and the kit's compiler drivers get them
# written in when they are generated, so both build the same way, but that
# the drivers compile users' programs hosted (without -ffreestanding), which
# the library, its start-up code and the command are not. There main is the
# program's entry, so one that falls off its end returns 0 (C99 and later,
# C++) where a freestanding main returns whatever its last call left, or runs
# on into the next function once g++ has taken the fall-off as unreachable.
# -fno-builtin holds for both.
#
# i386 code at fixed addresses for a kernel with no dynamic loader: no PIC, no
# hidden runtime (unwind tables, stack protector, thread-safe guards), and a
# program that turns the stack protector on finds its guard in a global
# (there is no thread block to hold it); no
# builtin knowledge of the C names, so the library's null checks stay; only the
# compiler's own headers besides the library's; strict x87 arithmetic (no
# contraction); one section per function and object so the link drops what
# nothing uses.
set(KIVOS_COMPILE_FLAGS
    -march=i686 -m32 -ffreestanding -fno-builtin -nostdinc -fno-pic -fno-pie
    -fno-stack-protector -mstack-protector-guard=global -fno-asynchronous-unwind-tables -fno-unwind-tables
    -ffp-contract=off -ffunction-sections -fdata-sections)
# C++ without its library: no exceptions, no RTTI, no libstdc++ headers.
set(KIVOS_CXX_FLAGS -fno-exceptions -fno-rtti -fno-threadsafe-statics -nostdinc++)
# A static image laid out by the linker script alone; libgcc (64-bit division)
# goes last.
set(KIVOS_LINK_FLAGS
    -nostdlib -static -no-pie -Wl,--build-id=none -Wl,--gc-sections
    -Wl,--orphan-handling=error -Wl,-z,noexecstack -Wl,-z,norelro)
set(KIVOS_LINK_LIBRARIES -lgcc)
