#!/bin/bash
# C++ with the standard library, through the installed kit's kivos-c++.
# Each source is built with kivos-c++ and natively as a static i686 Linux
# program with the same options, and both are run; what they print must be
# the same bytes. The kivos program ends with the exit status the native one
# has, except that an abort is status 1 under kivos (134 natively).
#   headers: every header the kit offers, in -std=c++17 and c++20, at -O0
#            and -O2
#   library: containers, strings, algorithms and utilities
#   tree:    the red-black tree under std::set checked at every step
#   throws:  each place the library would throw, one run per case
# Usage: cxx_test.sh BUILD_DIR SOURCE_DIR (this test's folder) headers|library|tree|throws
set -eu
build=$(realpath "$1")
source=$(realpath "$2")
mode=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/kit" > /dev/null
kit=$work/kit/bin
readonly native_abort=134 kivos_abort=1

failures=0
fail() {
    echo "FAIL $1: $2" >&2
    failures=$((failures + 1))
}

# build NAME SOURCE OPTION...: NAME.kivos and NAME.native
build() {
    local name=$1 file=$2
    shift 2
    "$kit/kivos-c++" --layout=roomy -Wall -Wextra -Werror "$@" -o "$work/$name.kivos" "$source/$file" ||
        fail "$name" "kivos-c++ $* failed"
    i686-linux-gnu-g++ -static "$@" -o "$work/$name.native" "$source/$file" || fail "$name" "native build failed"
}

# compare NAME ARGUMENT...: runs both builds, compares their output and status
compare() {
    local name=$1 native_status=0 kivos_status=0
    shift
    "$work/$name.native" "$@" > "$work/native.out" 2> "$work/native.err" || native_status=$?
    "$kit/kivrun" "$work/$name.kivos" "$@" > "$work/kivos.out" 2> "$work/kivos.err" || kivos_status=$?
    last_status=$kivos_status
    [ "$native_status" != "$native_abort" ] || native_status=$kivos_abort
    [ "$kivos_status" = "$native_status" ] || fail "$name $*" "status $kivos_status, natively $native_status"
    cmp -s "$work/native.out" "$work/kivos.out" || fail "$name $*" "output: $(diff "$work/native.out" "$work/kivos.out")"
    cmp -s "$work/native.err" "$work/kivos.err" || fail "$name $*" "errors: $(diff "$work/native.err" "$work/kivos.err")"
}

case $mode in
    headers)
        for standard in c++17 c++20; do
            for level in -O0 -O2; do
                build "headers$standard$level" cxx_headers.cpp "-std=$standard" "$level"
                compare "headers$standard$level"
            done
        done ;;
    library)
        build library cxx_library.cpp -std=c++17 -O2 -fthreadsafe-statics
        compare library ;;
    tree)
        build tree cxx_tree_check.cpp -std=c++17 -O2
        compare tree ;;
    throws)
        build throws cxx_throws.cpp -std=c++17 -O2 -fno-exceptions -fno-rtti
        # case|the first line it prints on descriptor 2 (none: the headers
        # abort in place, without a message)
        thrown="terminate called after throwing an instance of"
        cases=("vector_at|$thrown 'std::out_of_range'" "string_at|$thrown 'std::out_of_range'"
               "substr|$thrown 'std::out_of_range'" "map_at|$thrown 'std::out_of_range'"
               "vector_reserve|$thrown 'std::length_error'" "string_create|$thrown 'std::length_error'"
               "function_empty|$thrown 'std::bad_function_call'" "stoi_invalid|$thrown 'std::invalid_argument'"
               "bitset_to_ulong|$thrown 'std::overflow_error'" "bitset_string|$thrown 'std::invalid_argument'"
               "terminate|terminate called without an active exception" "optional_value|" "variant_get|")
        for entry in "${cases[@]}"; do
            case=${entry%%|*} first_line=${entry#*|}
            compare throws "$case"
            [ "$last_status" = "$kivos_abort" ] || fail "throws $case" "ended with status $last_status"
            [ "$(head -n 1 "$work/kivos.err")" = "$first_line" ] || fail "throws $case" "printed '$(cat "$work/kivos.err")'"
        done ;;
    *) echo "unknown mode $mode" >&2; exit 2 ;;
esac
exit "$failures"
