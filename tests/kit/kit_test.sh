#!/bin/bash
# The installed kit, moved away from where it was installed: each program is
# built by a driver or a CMake project, run under the kit's kivrun, and its
# output, the file it writes and its image layout are checked. Every build
# runs beside a hostile fixed.ld and layout.ld, which must not take part.
# Then: main falling off its end, the CMake project's ctest, a layout switch
# on its configured tree, the stack protector, a suite's coverage through
# KIVRUN_OPTIONS and an emulator of the user's, a library the kit does not
# have, and the library's sources for gdb.
# Usage: kit_test.sh BUILD_DIR SOURCE_DIR (this test's folder)
set -eu
build=$(realpath "$1")
source=$(realpath "$2")
work=$(realpath "$(mktemp -d)")
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/installed" > /dev/null
mv "$work/installed" "$work/kit"
kit=$work/kit/bin

hostile='ASSERT(0, "a linker script of the current directory was used")'
mkdir "$work/project"
for directory in "$work" "$work/project"; do
    echo "$hostile" > "$directory/layout.ld"
    echo "$hostile" > "$directory/fixed.ld"
done

cd "$work"
"$kit/kivos-cc" -O2 -Wall -Wextra -Werror -o cc-hello "$source/hello.c"
# C++ with static constructors, every function protected.
"$kit/kivos-c++" -O2 -Wall -Wextra -Werror -fstack-protector-all -c -o greet.o "$source/greet.cpp"
"$kit/kivos-c++" --layout=roomy -o cxx-greet greet.o
"$kit/kivos-cc" --layout=roomy -std=c89 -pedantic -O2 -Wall -Wextra -Werror -o cc-maths "$source/maths.c" -lm
"$kit/kivos-c++" --layout=roomy -O2 -Wall -Wextra -Werror -o cxx-maths "$source/maths.cpp" -lm
"$kit/kivos-cc" -O2 -Wall -Wextra -Werror --heap=mmap -o cc-churn "$source/churn.c"
"$kit/kivos-c++" --layout=roomy --heap=mmap -o cxx-greet-mmap greet.o
"$kit/kivos-cc" -O2 --heap=mmap --heap=arena -o cc-churn-arena "$source/churn.c"
configure() { cmake -S "$source/project" -B project -DCMAKE_TOOLCHAIN_FILE="$work/kit/share/kivos/toolchain.cmake" "$@" > /dev/null; }
configure
cmake --build project > /dev/null

failures=0
fail() {
    echo "FAIL $1: $2" >&2
    failures=$((failures + 1))
}

# The address of the read-only segment (the second loadable one) tells the layout.
rodata_address() { readelf -lW "$1" | awk '$1 == "LOAD" && ++n == 2 { print $3 }'; }

# program; arguments; standard output; greeting.txt; read-only segment
cases=(
    "cc-hello;0x2a there;hello |+42 there;count=42;0x00405000"
    "project/hello;010;hello |+8 kit;count=8;0x00405000"
    "cxx-greet;kit;C++ greets kit (3), before main: 5 42 global, sum 6;;0x00800000"
    "project/greet;;C++ greets kivos (5), before main: 5 42 global, sum 6;;0x00800000"
    "cc-maths;;1414213 909297 1024 1 1;;0x00800000"
    "cxx-maths;;1414214 -3 24 1;;0x00800000"
    "project/maths;0.5;707106 479425 1 1 1;;0x00800000"
)
for case in "${cases[@]}"; do
    IFS=';' read -r program arguments output file layout <<< "$case"
    rm -rf root && mkdir root
    # shellcheck disable=SC2086
    got=$("$kit/kivrun" --root root "$program" $arguments) || fail "$program" "exit status $?"
    [ "$got" = "$output" ] || fail "$program" "printed '$got', expected '$output'"
    if [ -n "$file" ]; then
        [ "$(cat root/greeting.txt 2>&1)" = "$file" ] || fail "$program" "wrote '$(cat root/greeting.txt 2>&1)'"
    fi
    [ "$(rodata_address "$program")" = "$layout" ] || fail "$program" "read-only data at $(rodata_address "$program")"
done

# main falls off its end: status 0 in C from C99 on (gnu17 is the
# default) and in C++, optimised or not. Builtins stay off in the hosted
# build, so printf is called as written.
# driver; its options
for build in "kivos-cc;-std=c99" "kivos-cc;-std=c11" "kivos-cc;" "kivos-c++;-x c++ -std=c++17" "kivos-c++;-x c++ -std=c++20"; do
    IFS=';' read -r driver options <<< "$build"
    for level in -O0 -O2; do
        program="falls-off $driver $options $level"
        # shellcheck disable=SC2086
        "$kit/$driver" $options $level -o falls-off "$source/falls_off.c" || { fail "$program" "did not build"; continue; }
        got=$("$kit/kivrun" falls-off) || fail "$program" "exit status $?"
        [ "$got" = "fell off the end of main" ] || fail "$program" "printed '$got'"
        ! i686-linux-gnu-nm falls-off | grep -q " puts$" || fail "$program" "printf became puts: builtins are on"
    done
done

# The code that runs static constructors is only in programs that have them.
runs_constructors() { i686-linux-gnu-nm "$1" | grep -q " kivos_run_constructors$"; }
! runs_constructors cc-hello || fail cc-hello "carries the constructor runner without constructors"
runs_constructors cxx-greet || fail cxx-greet "lacks the constructor runner"

metadata=$("$kit/kivmeta" cc-hello)
expected=$'command: Say hello to the kit.\ncommand: kithello\npackage: kithello\npackage: 7'
[ "$metadata" = "$expected" ] || fail kivmeta "printed '$metadata'"

ctest --test-dir project > ctest.log 2>&1 || fail ctest "$(tail -n 5 ctest.log)"

# A changed KIVOS_LAYOUT relinks on the same tree; the target's own
# --layout keeps greet roomy.
for layout in roomy fixed; do
    configure -DKIVOS_LAYOUT=$layout
    cmake --build project > /dev/null
    expected=$([ $layout = roomy ] && echo 0x00800000 || echo 0x00405000)
    [ "$(rodata_address project/hello)" = "$expected" ] || fail "layout $layout" "hello's read-only data at $(rodata_address project/hello)"
    [ "$(rodata_address project/greet)" = 0x00800000 ] || fail "layout $layout" "greet's read-only data at $(rodata_address project/greet)"
done

# The heap: with mmap a program frees and goes on past 1 MiB, with the arena
# it runs out, whether chosen by the driver or the toolchain's KIVOS_HEAP; C++
# objects live on either. The arena's member of the library never joins an
# mmap link.
has_arena() { i686-linux-gnu-nm "$1" | grep -q " _ZN3kiv4heap6g_heapE$"; }
churn_cases() {
    # program; heap; exit status; standard output
    for case in "$@"; do
        IFS=';' read -r program heap status output <<< "$case"
        got=$("$kit/kivrun" "$program") && code=0 || code=$?
        [ "$code" = "$status" ] || fail "$program" "exit status $code"
        [ "$got" = "$output" ] || fail "$program" "printed '$got', expected '$output'"
        if has_arena "$program"; then linked=arena; else linked=mmap; fi
        [ "$linked" = "$heap" ] || fail "$program" "linked the $linked heap"
    done
}
freed="churn 16838: freed 100 MiB"
ran_out="churn 16838: out of memory after 960 KiB"
greets="C++ greets kivos (5), before main: 5 42 global, sum 6"
churn_cases "cc-churn;mmap;0;$freed" "cc-churn-arena;arena;1;$ran_out" "project/churn;arena;1;$ran_out" \
    "cxx-greet-mmap;mmap;0;$greets" "cxx-greet;arena;0;$greets"
configure -DKIVOS_HEAP=mmap
cmake --build project > /dev/null
churn_cases "project/churn;mmap;0;$freed"
ctest --test-dir project > ctest.log 2>&1 || fail "ctest, KIVOS_HEAP=mmap" "$(tail -n 5 ctest.log)"
if "$kit/kivos-cc" --heap=huge -o huge "$source/hello.c" 2> heap.log; then fail "--heap=huge" "linked"; fi
grep -q "unknown heap 'huge' (arena or mmap)" heap.log || fail "--heap=huge" "$(cat heap.log)"

# The stack protector at each strength: a frame that overflows its buffer
# ends the program with the message on descriptor 2 and the abort status;
# one that does not returns as usual. The guard is drawn at start: never 0
# (not even when the counter reads 0), its first byte 0, new in every run.
# A program built without the protector carries none of it.
smashed='*** stack smashing detected ***: terminated'
for strength in "" -strong -all; do
    program=smash$strength
    "$kit/kivos-cc" -O2 -Wall -Wextra -Werror "-fstack-protector$strength" -o "$program" "$source/smash.c"
    got=$("$kit/kivrun" "$program" copy abc) || fail "$program" "exit status $? after a short copy"
    [ "$got" = "copied 3" ] || fail "$program" "printed '$got' after a short copy"
    status=0
    "$kit/kivrun" "$program" copy 0123456789abcdefghijklmnopqrstuvwxyz > smash.out 2> smash.err || status=$?
    [ "$status" = 1 ] || fail "$program" "exit status $status after smashing"
    [ "$(cat smash.err)" = "$smashed" ] || fail "$program" "said '$(cat smash.err)' after smashing"
    [ ! -s smash.out ] || fail "$program" "printed '$(cat smash.out)' after smashing"
done
guards=$(for tsc in "" "" --tsc=0:0; do "$kit/kivrun" $tsc smash-strong guard; done)
[ "$(grep -cxE '[0-9a-f]*[1-9a-f][0-9a-f]*00' <<< "$guards")" = 3 ] || fail guard "drew '$guards'"
[ "$(sed -n 1p <<< "$guards")" != "$(sed -n 2p <<< "$guards")" ] || fail guard "the same in two runs: '$guards'"
! i686-linux-gnu-nm cc-hello | grep -q __stack_chk || fail cc-hello "carries the stack protector's runtime"

# The same project with debug information, its tests run through an
# emulator of the user's own, which the toolchain file keeps, and
# KIVRUN_OPTIONS asking kivrun for the whole suite's coverage. genhtml reads
# the record as it is: the library's sources in the moved kit, the
# project's where they are, no step through "..".
cat > emulator <<EMULATOR
#!/bin/sh
echo "\$@" >> "$work/emulated.log"
exec "$kit/kivrun" "\$@"
EMULATOR
chmod +x emulator
cmake -S "$source/project" -B project-debug -DCMAKE_TOOLCHAIN_FILE="$work/kit/share/kivos/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CROSSCOMPILING_EMULATOR="$work/emulator" > /dev/null
cmake --build project-debug > /dev/null
KIVRUN_OPTIONS="--timeout 60 --coverage='$work/whole suite.info'" ctest --test-dir project-debug > ctest-debug.log 2>&1 ||
    fail "ctest with coverage" "$(tail -n 5 ctest-debug.log)"
for test in "hello 010" "greet ctest" "smash copy"; do
    grep -q "/project-debug/$test" emulated.log || fail emulator "did not run '$test': $(cat emulated.log)"
done
sources=$(grep '^SF:' "whole suite.info")
for file in "$work/kit/lib/kivos/src/libc/unistd.cpp" "$source/hello.c" "$source/greet.cpp"; do
    grep -qxF "SF:$file" <<< "$sources" || fail coverage "no record of $file: $sources"
done
! grep -qE '/\.\.?/|^SF:/kivos-kit/' <<< "$sources" || fail coverage "paths not normal or not in the kit: $sources"
# A source named by a relative path is named from where it was compiled.
mkdir -p relative/sub && cp "$source/hello.c" relative/
(cd relative && "$kit/kivos-cc" -g -o hello sub/../hello.c)
(cd root && "$kit/kivrun" --coverage="$work/whole suite.info" ../relative/hello > /dev/null) ||
    fail "relative source" "exit status $?"
grep -qxF "SF:$work/relative/hello.c" "whole suite.info" ||
    fail "relative source" "$(grep '^SF:.*hello' "whole suite.info")"
genhtml --quiet --output-directory html "whole suite.info" > genhtml.log 2>&1 || fail genhtml "$(tail -n 5 genhtml.log)"

# The host's C library is not found, and plainly so (the kit's own libm is).
for library in c; do
    if "$kit/kivos-cc" -o "lib$library" "$source/hello.c" "-l$library" 2> link.log; then
        fail "-l$library" "linked"
    fi
    grep -q "cannot find -l$library" link.log || fail "-l$library" "$(cat link.log)"
    ! grep -q "i686-linux-gnu/lib" link.log || fail "-l$library" "reached the host's library: $(cat link.log)"
done

# The library's debug information names its installed sources, which gdb
# finds in the moved kit through one substitute-path.
if i686-linux-gnu-readelf --debug-dump=info "$work/kit/lib/kivos/libkivc.a" | grep -q "$(realpath "$source/../..")"; then
    fail libkivc.a "debug information names the build machine's sources"
fi
listing=$(gdb -nx -batch -ex "set substitute-path /kivos-kit/src $work/kit/lib/kivos/src" -ex "list strlen" cc-hello 2>&1)
grep -q "size_t strlen(const char \*s)" <<< "$listing" || fail gdb "list strlen printed '$listing'"

exit "$failures"
