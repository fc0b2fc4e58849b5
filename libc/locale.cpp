// The one locale there is: "C", also known as "POSIX" and chosen by "".
#include "locale.h"

#include <limits.h>

#include "string.h"

namespace kiv::locale {
namespace {

char kName[] = "C";
char kDecimalPoint[] = ".";
char kEmpty[] = "";

bool names_c_locale(const char *name) {
    return strcmp(name, "C") == 0 || strcmp(name, "POSIX") == 0 || name[0] == '\0';
}

bool is_category(int category) { return category >= LC_CTYPE && category <= LC_ALL; }

lconv g_conventions = {kDecimalPoint, kEmpty,   kEmpty,   kEmpty,   kEmpty,   kEmpty,   kEmpty,   kEmpty,
                       kEmpty,        kEmpty,   CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX,
                       CHAR_MAX,      CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX};

}  // namespace
}  // namespace kiv::locale

extern "C" {

// A null name asks which locale is in force; any other name but the "C"
// locale's fails.
char *setlocale(int category, const char *locale) {
    if (!kiv::locale::is_category(category)) return nullptr;
    if (locale != nullptr && !kiv::locale::names_c_locale(locale)) return nullptr;
    return kiv::locale::kName;
}

struct lconv *localeconv(void) {
    return &kiv::locale::g_conventions;
}

}  // extern "C"
