#!/bin/bash
# AFL++ on the example parser (tests/guest/fx_fuzz_parser.c, a planted
# out-of-bounds store behind one type byte and one length check): under
# kivrun one input per fork and persistent, then the same source built
# natively with afl-clang-fast, the same two ways. Each campaign runs for
# SECONDS from the same seed; prints executions per second, crashes and
# hangs saved, and when the first crash was found.
#
# usage: fuzz-example.sh BUILD_DIR SECONDS
set -euo pipefail

build=$(realpath "$1")
seconds=$2
source_dir=$(realpath "$(dirname "$0")/..")
kivrun=$build/kivrun/kivrun
parser=$build/guest/tests/fx_fuzz_parser
work=$build/fuzz-example

export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1 AFL_QUIET=1

rm -rf "$work"
mkdir -p "$work/seeds"
printf 'A\003abcS\002\005\001' > "$work/seeds/records"
afl-clang-fast -O1 -o "$work/native_parser" "$source_dir/tests/guest/fx_fuzz_parser.c"

# The earliest "time:" (ms since the start) among the saved crashes' names.
first_crash() {
    local times
    times=$(ls "$1" 2>/dev/null | sed -n 's/.*,time:\([0-9]*\).*/\1/p' | sort -n | head -n 1)
    if [ -n "$times" ]; then echo "$((times / 1000)) s"; else echo "none"; fi
}

# campaign NAME COMMAND...: the output directory inside the working
# directory, which is kivrun's default root.
campaign() {
    local name=$1
    shift
    (cd "$work" && afl-fuzz -V "$seconds" -i seeds -o "out-$name" -- "$@" > "$name.log" 2>&1) ||
        { tail -n 20 "$work/$name.log"; exit 1; }
    local stats=$work/out-$name/default/fuzzer_stats
    printf '%-22s %9s execs/s %7s execs %3s crashes %3s hangs  first crash: %s\n' "$name" \
        "$(sed -n 's/^execs_per_sec *: //p' "$stats")" "$(sed -n 's/^execs_done *: //p' "$stats")" \
        "$(sed -n 's/^saved_crashes *: //p' "$stats")" "$(sed -n 's/^saved_hangs *: //p' "$stats")" \
        "$(first_crash "$work/out-$name/default/crashes")"
}

echo "AFL++ $(afl-fuzz -h 2>&1 | sed -n 's/.*afl-fuzz++\([0-9.a-z]*\).*/\1/p' | head -n 1), $seconds s per campaign, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
campaign kivrun-fork-server "$kivrun" "$parser" --once
campaign kivrun-persistent "$kivrun" "$parser"
campaign native-fork-server "$work/native_parser" --once
campaign native-persistent "$work/native_parser"
