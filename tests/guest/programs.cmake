# The guest test programs, read by the guest build (which builds them) and by
# the host side (which runs the self-checking ones under CTest).
# t_*: self-checking, the exit status is the failure count.
set(KIV_GUEST_SELF_CHECKS
    t_c_wrappers.c t_convert.cpp t_porting.c t_files.cpp t_heap.cpp t_heap_mmap.cpp t_mmap.cpp t_pointers.cpp
    t_random.cpp
    t_scanf.cpp t_startup.cpp t_stream.cpp t_string.cpp t_vfprintf.cpp t_vsnprintf.cpp)
# fx_*: fixtures driven by the host tests.
set(KIV_GUEST_FIXTURES
    fx_args.cpp fx_console.cpp fx_coverage.cpp fx_fault.cpp fx_files.cpp fx_fs.cpp fx_fscanf.cpp fx_fuzz_parser.c fx_machine.cpp
    fx_porting.cpp fx_process.cpp fx_math.cpp fx_rand_seed.cpp fx_rdtsc.cpp fx_replay.cpp fx_reverse.cpp fx_spawn.cpp
    fx_strtold.cpp fx_syscall_loop.cpp fx_wrappers.cpp)
# fixed_*: linked with the command's fixed image instead of the roomy one.
set(KIV_GUEST_FIXED_PROGRAMS fixed_hello.cpp)
# Programs that look at the library's internals.
set(KIV_GUEST_WHITE_BOX t_heap t_heap_mmap t_stream t_string)
# Programs linked with the heap of kivos-cc --heap=mmap instead of the arena.
set(KIV_GUEST_MMAP_HEAP t_heap_mmap)
# Programs run under a memory limit (kivrun --max-memory, in MiB), which
# they are also given as their first argument.
set(KIV_GUEST_MEMORY_LIMIT_t_heap_mmap 192)
# Programs that hand the engines, on purpose, what ISO C's format check
# rejects: the console control record's three arguments after "%c", unknown
# conversion letters, null destinations.
set(KIV_GUEST_UNCHECKED_FORMATS fx_console t_scanf)
# Programs that link the mathematical library (libm) too.
set(KIV_GUEST_MATH fx_math)
# Programs built without optimisation, so that each source line starts once.
set(KIV_GUEST_UNOPTIMISED fx_coverage fx_reverse)
