#!/bin/bash
# Every header of the installed kit and the compiler's that programs
# include, alone, in a strict user build: as C
# from C89 to C17 with -pedantic -Werror -Wall -Wextra, and as C++. Then the
# C++ library headers a C++ program starts with, which must find every C
# name they import (compile only: linking them is the C++ runtime's part),
# and a program that links every function those C names stand for.
# Usage: headers_test.sh BUILD_DIR
set -eu
build=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/kit" > /dev/null
kit=$work/kit/bin
include=$work/kit/lib/kivos/include
strict=(-pedantic -Werror -Wall -Wextra -c -o "$work/header.o")

failures=0
fail() {
    echo "FAIL $1" >&2
    sed 's/^/  /' "$work/errors" | head -n 8 >&2
    failures=$((failures + 1))
}

# The C library's headers (c++/ holds what only C++ sees), and the
# compiler's own that a program uses, which in a hosted build may hand over
# to a C library's.
headers=$(cd "$include" && find . -name '*.h' ! -path './c++/*' | sed 's|^\./||' | sort)
headers+=" float.h iso646.h stdalign.h stdarg.h stdatomic.h stdbool.h stddef.h stdnoreturn.h"
for header in $headers; do
    printf '#include <%s>\nint kivos_header_check;\n' "$header" > "$work/check.c"
    cp "$work/check.c" "$work/check.cpp"
    for standard in c89 gnu89 c99 c11 c17; do
        "$kit/kivos-cc" -std=$standard "${strict[@]}" "$work/check.c" 2> "$work/errors" || fail "$header as $standard"
    done
    for standard in c++17 c++20; do
        "$kit/kivos-c++" -std=$standard "${strict[@]}" "$work/check.cpp" 2> "$work/errors" || fail "$header as $standard"
    done
done

# <cmath> comes with the mathematics library.
cxx_headers="algorithm array bitset charconv deque forward_list functional iterator list map memory numeric
    optional queue set span stack string string_view tuple unordered_map unordered_set utility variant vector
    bit limits type_traits cstddef cstdint cstring cstdlib cstdio cctype climits cwchar cwctype ctime clocale
    csetjmp cassert cerrno"
for header in $cxx_headers; do
    printf '#include <%s>\nint kivos_header_check;\n' "$header" > "$work/check.cpp"
    for standard in c++17 c++20; do
        "$kit/kivos-c++" -std=$standard "${strict[@]}" "$work/check.cpp" 2> "$work/errors" || fail "<$header> as $standard"
    done
done

# Every function g++'s C wrappers import with `using ::name` exists: a
# program taking each one's address links and runs. The names are read from
# the wrappers themselves; the types among them are left out.
wrappers="cstdio cstdlib cstring cctype cwchar cwctype ctime clocale csetjmp"
library=$(echo '#include <cstdio>' | "$kit/kivos-c++" -std=c++17 -x c++ -M - | tr ' ' '\n' | grep '/cstdio$' | head -n 1)
types=" FILE fpos_t div_t ldiv_t lldiv_t mbstate_t wint_t wctrans_t wctype_t clock_t time_t tm timespec lconv "
types+=" jmp_buf __gnu_cxx gets "
{
    for header in $wrappers; do echo "#include <$header>"; done
    echo "using kivos_function = void (*)();"
    echo "kivos_function kivos_imported[] = {"
    for header in $wrappers; do grep -o 'using ::[a-zA-Z_0-9]*' "$(dirname "$library")/$header"; done |
        sed 's/using :://' | sort -u | while read -r name; do
            case $types in *" $name "*) ;; *) echo "    reinterpret_cast<kivos_function>(&::$name),";; esac
        done
    echo "};"
    echo "int main() { return kivos_imported[0] == nullptr; }"
} > "$work/imported.cpp"
[ "$(grep -c reinterpret_cast "$work/imported.cpp")" -gt 150 ] || { echo "imported.cpp" > "$work/errors"; fail "reading the names of g++'s C wrappers"; }
for standard in c++17 c++20; do
    if "$kit/kivos-c++" --layout=roomy -std=$standard -Wall -Wextra -Werror -o "$work/imported" "$work/imported.cpp" 2> "$work/errors"; then
        "$kit/kivrun" "$work/imported" > "$work/errors" 2>&1 || fail "the program of imported names ($standard) ran"
    else
        fail "every name g++'s C wrappers import links ($standard)"
    fi
done

# A C89 program that uses the porting headers together compiles cleanly.
cat > "$work/together.c" << 'PROGRAM'
#include <assert.h>
#include <ctype.h>
#include <locale.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <time.h>
#include <wchar.h>
static jmp_buf env;
int main(void) {
    off_t offset = 0;
    ssize_t length = 0;
    div_t q = div(7, 2);
    assert(q.quot == 3);
    if (setjmp(env) == 0) longjmp(env, 1);
    return isdigit('7') && strchr(localeconv()->decimal_point, '.') != NULL ? (int)(offset + length) : 1;
}
PROGRAM
"$kit/kivos-cc" -std=c89 -pedantic -Werror -Wall -Wextra -O2 -o "$work/together" "$work/together.c" 2> "$work/errors" ||
    fail "a C89 program using the porting headers"

exit "$failures"
