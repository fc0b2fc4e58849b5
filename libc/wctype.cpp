// Wide-character classes and mappings of the "C" locale: those of ctype.h
// for the byte values, none beyond them.
#include "wctype.h"

#include "ctype.h"
#include "internal/char_class.h"
#include "string.h"

namespace kiv::wide_class {
namespace {

struct NamedClass {
    const char *name;
    wctype_t bits;
};

constexpr NamedClass kClasses[] = {
    {"alnum", _ISalnum}, {"alpha", _ISalpha}, {"blank", _ISblank}, {"cntrl", _IScntrl},
    {"digit", _ISdigit}, {"graph", _ISgraph}, {"lower", _ISlower}, {"print", _ISprint},
    {"punct", _ISpunct}, {"space", _ISspace}, {"upper", _ISupper}, {"xdigit", _ISxdigit},
};

// The two mappings; a wctrans_t points at one of these.
constexpr int kToLower = 1;
constexpr int kToUpper = 2;

int has(wint_t wc, wctype_t bits) { return (kiv::ctype::classes_of(static_cast<long>(wc)) & bits) != 0; }

bool is_byte(wint_t wc) { return wc < 256; }

}  // namespace
}  // namespace kiv::wide_class

using namespace kiv::wide_class;

extern "C" {

int iswalnum(wint_t wc) { return has(wc, _ISalnum); }
int iswalpha(wint_t wc) { return has(wc, _ISalpha); }
int iswblank(wint_t wc) { return has(wc, _ISblank); }
int iswcntrl(wint_t wc) { return has(wc, _IScntrl); }
int iswdigit(wint_t wc) { return has(wc, _ISdigit); }
int iswgraph(wint_t wc) { return has(wc, _ISgraph); }
int iswlower(wint_t wc) { return has(wc, _ISlower); }
int iswprint(wint_t wc) { return has(wc, _ISprint); }
int iswpunct(wint_t wc) { return has(wc, _ISpunct); }
int iswspace(wint_t wc) { return has(wc, _ISspace); }
int iswupper(wint_t wc) { return has(wc, _ISupper); }
int iswxdigit(wint_t wc) { return has(wc, _ISxdigit); }

wctype_t wctype(const char *name) {
    for (const NamedClass &entry : kClasses)
        if (strcmp(entry.name, name) == 0) return entry.bits;
    return 0;
}

int iswctype(wint_t wc, wctype_t class_id) { return has(wc, class_id); }

wint_t towlower(wint_t wc) { return is_byte(wc) ? static_cast<wint_t>(tolower(static_cast<int>(wc))) : wc; }

wint_t towupper(wint_t wc) { return is_byte(wc) ? static_cast<wint_t>(toupper(static_cast<int>(wc))) : wc; }

wctrans_t wctrans(const char *name) {
    if (strcmp(name, "tolower") == 0) return &kToLower;
    if (strcmp(name, "toupper") == 0) return &kToUpper;
    return nullptr;
}

wint_t towctrans(wint_t wc, wctrans_t mapping) {
    if (mapping == &kToLower) return towlower(wc);
    if (mapping == &kToUpper) return towupper(wc);
    return wc;
}

}  // extern "C"
