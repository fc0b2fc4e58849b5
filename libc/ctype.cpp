// Character classes of the "C" locale: ASCII's, from one table of the 256
// bytes built at compile time; bytes 128 to 255 are in no class.
#include "ctype.h"

#include "internal/char_class.h"

namespace kiv::ctype {
namespace {

constexpr int kBytes = 256;
constexpr int kFirstNonAscii = 128;
constexpr int kCaseDistance = 'a' - 'A';

constexpr bool in(int c, int first, int last) { return c >= first && c <= last; }

constexpr uint16_t ascii_classes(int c) {
    uint16_t bits = 0;
    bool upper = in(c, 'A', 'Z'), lower = in(c, 'a', 'z'), digit = in(c, '0', '9');
    bool graph = in(c, '!', '~');
    if (upper) bits |= _ISupper;
    if (lower) bits |= _ISlower;
    if (upper || lower) bits |= _ISalpha | _ISalnum;
    if (digit) bits |= _ISdigit | _ISalnum | _ISxdigit;
    if (in(c, 'a', 'f') || in(c, 'A', 'F')) bits |= _ISxdigit;
    if (c == ' ' || in(c, '\t', '\r')) bits |= _ISspace;
    if (c == ' ' || c == '\t') bits |= _ISblank;
    if (graph) bits |= _ISgraph | _ISprint;
    if (c == ' ') bits |= _ISprint;
    if (graph && !upper && !lower && !digit) bits |= _ISpunct;
    if (in(c, 0, 0x1f) || c == 0x7f) bits |= _IScntrl;
    return bits;
}

struct ClassTable {
    uint16_t bits[kBytes];
};

constexpr ClassTable build_table() {
    ClassTable table{};
    for (int c = 0; c < kFirstNonAscii; c++) table.bits[c] = ascii_classes(c);
    return table;
}

constexpr ClassTable kClasses = build_table();

int has(int c, uint16_t bits) { return (classes_of(c) & bits) != 0; }

}  // namespace

uint16_t classes_of(long c) { return c >= 0 && c < kBytes ? kClasses.bits[c] : 0; }

}  // namespace kiv::ctype

using kiv::ctype::has;

extern "C" {

int isalnum(int c) { return has(c, _ISalnum); }
int isalpha(int c) { return has(c, _ISalpha); }
int isblank(int c) { return has(c, _ISblank); }
int iscntrl(int c) { return has(c, _IScntrl); }
int isdigit(int c) { return has(c, _ISdigit); }
int isgraph(int c) { return has(c, _ISgraph); }
int islower(int c) { return has(c, _ISlower); }
int isprint(int c) { return has(c, _ISprint); }
int ispunct(int c) { return has(c, _ISpunct); }
int isspace(int c) { return has(c, _ISspace); }
int isupper(int c) { return has(c, _ISupper); }
int isxdigit(int c) { return has(c, _ISxdigit); }

int tolower(int c) { return has(c, _ISupper) ? c + kiv::ctype::kCaseDistance : c; }
int toupper(int c) { return has(c, _ISlower) ? c - kiv::ctype::kCaseDistance : c; }

}  // extern "C"
