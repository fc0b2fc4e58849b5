// Formatted input. The scanner has its own digit loops (number conversion
// is a different unit with different rules), stops at the first directive
// that does not match and answers how many values it stored; fscanf feeds it
// one blank-delimited token read from a descriptor, byte by byte.
#include <stdint.h>

#include "stdio.h"
#include "unistd.h"

namespace kiv::stdio {

namespace {

constexpr uint32_t kDecimal = 10;
constexpr uint32_t kOctal = 8;
constexpr uint32_t kHexadecimal = 16;
constexpr int kNotADigit = -1;
// fscanf's token: at most this many bytes, then the NUL.
constexpr uint32_t kTokenCapacity = 255;

// Four different blank sets: they differ on purpose (newline and carriage
// return in particular), so each has its own test.
bool is_directive_blank(char ch) { return ch == ' ' || ch == '\t' || ch == '\n'; }
bool is_field_blank(char ch) { return ch == ' ' || ch == '\t'; }
bool ends_word(char ch) { return ch == '\0' || ch == ' ' || ch == '\t' || ch == '\n'; }
bool is_token_blank(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; }

struct Scan {
    const char *input;
    va_list args;
    int count;

    void skip_field_blanks() {
        while (is_field_blank(*input)) input++;
    }

    // Suppressed conversions take no argument; the others always take one,
    // even when it turns out to be null.
    template <typename T> T *destination(bool suppressed) { return suppressed ? nullptr : va_arg(args, T *); }

    template <typename T> void store(T *where, T value) {
        if (where == nullptr) return;
        *where = value;
        count++;
    }
};

struct Conversion {
    bool suppressed;
    uint32_t width;  // 0: none given
};

int digit_value(char ch, uint32_t base) {
    int value = kNotADigit;
    if (ch >= '0' && ch <= '9') value = ch - '0';
    else if (ch >= 'a' && ch <= 'f') value = ch - 'a' + 10;
    else if (ch >= 'A' && ch <= 'F') value = ch - 'A' + 10;
    return value != kNotADigit && static_cast<uint32_t>(value) < base ? value : kNotADigit;
}

// Accumulates digits of `base` with 32-bit wrapping; false when there is
// not even one.
bool read_digits(const char *&input, uint32_t base, uint32_t &value) {
    const char *start = input;
    value = 0;
    for (int digit; (digit = digit_value(*input, base)) != kNotADigit; input++) {
        value = value * base + static_cast<uint32_t>(digit);
    }
    return input != start;
}

// 'i' decides its base from the prefix: "0x"/"0X" is hexadecimal (both
// bytes stepped over), a lone leading '0' octal (the '0' is a digit).
uint32_t prefixed_base(const char *&input) {
    if (input[0] != '0') return kDecimal;
    if ((input[1] | 0x20) == 'x') {
        input += 2;
        return kHexadecimal;
    }
    return kOctal;
}

bool scan_signed(Scan &scan, const Conversion &conversion, uint32_t base) {
    scan.skip_field_blanks();
    bool negative = *scan.input == '-';
    if (negative || *scan.input == '+') scan.input++;
    if (base == 0) base = prefixed_base(scan.input);
    uint32_t value;
    if (!read_digits(scan.input, base, value)) return false;
    if (negative) value = 0u - value;
    int32_t *where = scan.destination<int32_t>(conversion.suppressed);
    scan.store(where, static_cast<int32_t>(value));
    return true;
}

bool scan_decimal(Scan &scan, const Conversion &conversion) { return scan_signed(scan, conversion, kDecimal); }
bool scan_hexadecimal(Scan &scan, const Conversion &conversion) { return scan_signed(scan, conversion, kHexadecimal); }
// Base 0 stands for "from the prefix".
bool scan_any_base(Scan &scan, const Conversion &conversion) { return scan_signed(scan, conversion, 0); }

bool scan_unsigned(Scan &scan, const Conversion &conversion) {
    scan.skip_field_blanks();
    uint32_t value;
    if (!read_digits(scan.input, kDecimal, value)) return false;
    scan.store(scan.destination<uint32_t>(conversion.suppressed), value);
    return true;
}

bool scan_character(Scan &scan, const Conversion &conversion) {
    if (*scan.input == '\0') return false;
    char *where = scan.destination<char>(conversion.suppressed);
    scan.store(where, *scan.input++);
    return true;
}

// A width bounds the word, so "%15s" fits a 16-byte buffer; what is left of
// the word stays for the next directive.
bool scan_word(Scan &scan, const Conversion &conversion) {
    scan.skip_field_blanks();
    if (*scan.input == '\0') return false;
    char *where = scan.destination<char>(conversion.suppressed);
    uint32_t length = 0;
    while (!ends_word(scan.input[length]) && (conversion.width == 0 || length < conversion.width)) {
        if (where != nullptr) where[length] = scan.input[length];
        length++;
    }
    scan.input += length;
    if (where == nullptr) return true;
    where[length] = '\0';
    scan.count++;
    return true;
}

using Converter = bool (*)(Scan &, const Conversion &);

// Conversion letters from 'X' to 'x'; the empty entries end the scan.
constexpr char kFirstLetter = 'X';
constexpr uint32_t kLetterCount = 'x' - 'X' + 1;
static_assert(kLetterCount == 33);

struct ConverterTable {
    Converter entries[kLetterCount];
};

constexpr ConverterTable make_converter_table() {
    ConverterTable table{};
    table.entries['X' - kFirstLetter] = scan_hexadecimal;
    table.entries['c' - kFirstLetter] = scan_character;
    table.entries['d' - kFirstLetter] = scan_decimal;
    table.entries['i' - kFirstLetter] = scan_any_base;
    table.entries['s' - kFirstLetter] = scan_word;
    table.entries['u' - kFirstLetter] = scan_unsigned;
    table.entries['x' - kFirstLetter] = scan_hexadecimal;
    return table;
}

constexpr ConverterTable kConverters = make_converter_table();

Converter find_converter(char letter) {
    uint32_t index = static_cast<uint32_t>(static_cast<unsigned char>(letter)) - kFirstLetter;
    return index < kLetterCount ? kConverters.entries[index] : nullptr;
}

uint32_t read_width(const char *&format) {
    uint32_t width = 0;
    while (*format >= '0' && *format <= '9') width = width * kDecimal + static_cast<uint32_t>(*format++ - '0');
    return width;
}

// One '%' directive; `format` stands after the '%'. False ends the scan.
bool run_conversion(Scan &scan, const char *&format) {
    Conversion conversion{*format == '*', 0};
    if (conversion.suppressed) format++;
    conversion.width = read_width(format);
    char letter = *format;
    if (letter == '\0') return false;
    format++;
    if (letter == '%') {
        if (*scan.input != '%') return false;
        scan.input++;
        return true;
    }
    Converter converter = find_converter(letter);
    return converter != nullptr && converter(scan, conversion);
}

// One directive of any kind; false ends the scan.
bool run_directive(Scan &scan, const char *&format) {
    char directive = *format++;
    if (directive == '%') return run_conversion(scan, format);
    if (is_directive_blank(directive)) {
        while (is_directive_blank(*scan.input)) scan.input++;
        while (is_directive_blank(*format)) format++;
        return true;
    }
    if (*scan.input != directive) return false;
    scan.input++;
    return true;
}

// One byte from the descriptor, keeping the stream's position and end mark.
bool read_byte(FILE *stream, char &byte) {
    int got = read(stream->fd, &byte, 1);
    if (got <= 0) {
        stream->eof = 1;
        return false;
    }
    stream->pos += got;
    return true;
}

// Reads the blanks before one token, the token and the one blank after it.
// A longer token is cut to its first bytes but still consumed whole. False
// when the input ends before the token starts.
bool read_token(FILE *stream, char (&token)[kTokenCapacity + 1]) {
    char byte;
    do {
        if (!read_byte(stream, byte)) return false;
    } while (is_token_blank(byte));
    uint32_t length = 0;
    token[length++] = byte;
    while (read_byte(stream, byte) && !is_token_blank(byte)) {
        if (length < kTokenCapacity) token[length++] = byte;
    }
    token[length] = '\0';
    return true;
}

}  // namespace

}  // namespace kiv::stdio

extern "C" {

int vsscanf(const char *str, const char *format, va_list args) {
    if (str == nullptr || format == nullptr) return 0;
    kiv::stdio::Scan scan{str, {}, 0};
    va_copy(scan.args, args);
    while (*format != '\0' && kiv::stdio::run_directive(scan, format)) {
    }
    va_end(scan.args);
    return scan.count;
}

int sscanf(const char *str, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int count = vsscanf(str, format, args);
    va_end(args);
    return count;
}

int vfscanf(FILE *stream, const char *format, va_list args) {
    if (stream == nullptr || format == nullptr || stream->kind != KIV_FILE_DESCRIPTOR) return -1;
    char token[kiv::stdio::kTokenCapacity + 1];
    if (!kiv::stdio::read_token(stream, token)) return -1;
    return vsscanf(token, format, args);
}

int fscanf(FILE *stream, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int count = vfscanf(stream, format, args);
    va_end(args);
    return count;
}

}  // extern "C"
