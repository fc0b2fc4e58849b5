#!/bin/bash
# The installed kit, moved away from where it was installed: each program is
# built by a driver or a CMake project, run under the kit's kivrun, and its
# output, the file it writes and its image layout are checked.
# Usage: kit_test.sh BUILD_DIR SOURCE_DIR (this test's folder)
set -eu
build=$(realpath "$1")
source=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/installed" > /dev/null
mv "$work/installed" "$work/kit"
kit=$work/kit/bin

cd "$work"
"$kit/kivos-cc" -O2 -Wall -Wextra -Werror -o cc-hello "$source/hello.c"
"$kit/kivos-c++" -O2 -Wall -Wextra -Werror -c -o greet.o "$source/greet.cpp"
"$kit/kivos-c++" --layout=roomy -o cxx-greet greet.o
cmake -S "$source/project" -B project -DCMAKE_TOOLCHAIN_FILE="$work/kit/share/kivos/toolchain.cmake" > /dev/null
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
    "cxx-greet;kit;C++ greets kit (3);;0x00800000"
    "project/greet;;C++ greets kivos (5);;0x00800000"
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

metadata=$("$kit/kivmeta" cc-hello)
expected=$'command: Say hello to the kit.\ncommand: kithello\npackage: kithello\npackage: 7'
[ "$metadata" = "$expected" ] || fail kivmeta "printed '$metadata'"

exit "$failures"
