#!/bin/sh
# Applies .clang-format to the project's C and C++ files (format), or names
# those it would change and fails (check). Generated tables stay as their
# generators write them.
set -eu
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format-14}
files=$(git ls-files '*.c' '*.cpp' '*.h' |
        grep -v -x -e libc/math/two_over_pi.cpp -e libc/cxx/bucket_primes.h)
case "${1:-}" in
format) echo "$files" | xargs "$clang_format" -i ;;
check) echo "$files" | xargs "$clang_format" --dry-run -Werror ;;
*) echo "usage: $0 format|check" >&2; exit 2 ;;
esac
