// The stream formatting engine: walks the format and hands every piece of
// output to the stream as soon as it exists. Single bytes (ordinary text,
// padding, sign, prefix, zeros) go one per append, a number's digits and a
// string in one append each; on the console that is one write per piece.
// No heap and no result buffer: only fixed scratch on the stack.
#include <stdarg.h>

#include "stdio/stream.h"
#include "string.h"

// The compiler's runtime: unsigned 64-bit quotient and remainder in one step.
extern "C" uint64_t __udivmoddi4(uint64_t dividend, uint64_t divisor, uint64_t *remainder);

namespace kiv::stdio {

namespace {

constexpr char kDigitTable[] = "0123456789abcdef";
constexpr uint32_t kMaxDigits = 32;
constexpr uint32_t kDecimal = 10;
constexpr uint32_t kHexadecimal = 16;
constexpr int32_t kNoPrecision = -1;
constexpr int32_t kConsoleDescriptor = 1;
constexpr unsigned char kControlMark = 0xff;
constexpr char kNullText[] = "(null)";

struct Engine {
    FILE *stream;
    va_list args;
    uint32_t count;  // bytes handed over; wraps like the int it becomes
};

struct Conversion {
    bool zero = false;
    int32_t width = 0;
    int32_t precision = kNoPrecision;
    bool wide = false;
};

struct Integer {
    uint64_t magnitude;
    bool negative;
};

bool hand_over(Engine &engine, const void *bytes, uint32_t length) {
    if (file_write_bytes(engine.stream, bytes, length) != 0) return false;
    engine.count += length;
    return true;
}

bool hand_byte(Engine &engine, char byte) { return hand_over(engine, &byte, 1); }

bool hand_repeated(Engine &engine, char byte, int64_t times) {
    for (int64_t i = 0; i < times; i++)
        if (!hand_byte(engine, byte)) return false;
    return true;
}

// The console takes a control record in place of a leading "%c": 0xFF and
// the low bytes of three arguments, in one piece, outside the count.
bool send_control_record(Engine &engine) {
    unsigned char record[4] = {kControlMark, 0, 0, 0};
    for (uint32_t i = 1; i < sizeof record; i++) record[i] = static_cast<unsigned char>(va_arg(engine.args, int));
    return file_write_bytes(engine.stream, record, sizeof record) == 0;
}

bool wants_control_record(const FILE *stream, const char *format) {
    return stream->kind == KIV_FILE_DESCRIPTOR && stream->fd == kConsoleDescriptor && format[0] == '%' &&
           format[1] == 'c';
}

// Digits accumulate modulo 2^32: width and precision have no upper bound.
const char *read_decimal(const char *at, int32_t &value) {
    uint32_t accumulated = static_cast<uint32_t>(value);
    for (; *at >= '0' && *at <= '9'; at++) accumulated = accumulated * 10 + static_cast<uint32_t>(*at - '0');
    value = static_cast<int32_t>(accumulated);
    return at;
}

const char *read_width(Engine &engine, const char *at, Conversion &conversion) {
    if (*at != '*') return read_decimal(at, conversion.width);
    conversion.width = va_arg(engine.args, int);
    return at + 1;
}

const char *read_precision(Engine &engine, const char *at, Conversion &conversion) {
    if (*at != '.') return at;
    at++;
    if (*at == '*') {
        conversion.precision = va_arg(engine.args, int);
        return at + 1;
    }
    conversion.precision = 0;
    return read_decimal(at, conversion.precision);
}

// Reads flag, width, precision and length after a '%'; returns where the
// conversion letter stands (the terminating NUL when the format ends first).
const char *read_spec(Engine &engine, const char *at, Conversion &conversion) {
    if (*at == '0') {
        conversion.zero = true;
        at++;
    }
    at = read_width(engine, at, conversion);
    at = read_precision(engine, at, conversion);
    if (*at == 'l') {
        at++;
        if (*at == 'l') {
            conversion.wide = true;
            at++;
        }
    }
    return at;
}

uint64_t fetch_unsigned(Engine &engine, const Conversion &conversion) {
    if (conversion.wide) return va_arg(engine.args, unsigned long long);
    return va_arg(engine.args, unsigned int);
}

// The magnitude is the 64-bit two's-complement negation read as unsigned,
// so the most negative values print their true size.
Integer fetch_signed(Engine &engine, const Conversion &conversion) {
    int64_t value = conversion.wide ? va_arg(engine.args, long long) : va_arg(engine.args, int);
    uint64_t bits = static_cast<uint64_t>(value);
    return value < 0 ? Integer{0 - bits, true} : Integer{bits, false};
}

// The digits of `value` in printing order; returns how many.
uint32_t render_digits(uint64_t value, uint32_t base, char (&digits)[kMaxDigits]) {
    char reversed[kMaxDigits];
    uint32_t count = 0;
    bool last;
    do {
        uint64_t remainder;
        last = value < base;
        value = __udivmoddi4(value, base, &remainder);
        reversed[count++] = kDigitTable[remainder];
    } while (!last && count < kMaxDigits);
    for (uint32_t i = 0; i < count; i++) digits[i] = reversed[count - 1 - i];
    return count;
}

// Padding stands before everything, as spaces, unless the zero flag asks
// for zeros and no precision cancels it; zeros follow the sign and prefix.
bool put_integer(Engine &engine, const Conversion &conversion, Integer value, uint32_t base, bool pointer) {
    char digits[kMaxDigits];
    uint32_t digit_count = render_digits(value.magnitude, base, digits);
    int64_t zeros = conversion.precision > static_cast<int32_t>(digit_count)
                        ? int64_t{conversion.precision} - digit_count
                        : 0;
    int64_t total = (value.negative ? 1 : 0) + (pointer ? 2 : 0) + zeros + digit_count;
    int64_t padding = conversion.width > total ? conversion.width - total : 0;
    bool zero_padding = conversion.zero && conversion.precision < 0;
    if (zero_padding) zeros += padding;
    if (!zero_padding && !hand_repeated(engine, ' ', padding)) return false;
    if (value.negative && !hand_byte(engine, '-')) return false;
    if (pointer && !(hand_byte(engine, '0') && hand_byte(engine, 'x'))) return false;
    if (!hand_repeated(engine, '0', zeros)) return false;
    return hand_over(engine, digits, digit_count);
}

// A precision bounds the measurement too, so a caller may cut an array
// that has no terminator.
bool put_string(Engine &engine, const Conversion &conversion) {
    const char *text = va_arg(engine.args, const char *);
    if (text == nullptr) text = kNullText;
    uint32_t length = conversion.precision >= 0 ? strnlen(text, static_cast<uint32_t>(conversion.precision))
                                                : strlen(text);
    if (conversion.width > 0 && static_cast<uint32_t>(conversion.width) > length &&
        !hand_repeated(engine, ' ', conversion.width - static_cast<int64_t>(length)))
        return false;
    return hand_over(engine, text, length);
}

bool convert(Engine &engine, const Conversion &conversion, char letter) {
    switch (letter) {
    case 'd':
    case 'i': return put_integer(engine, conversion, fetch_signed(engine, conversion), kDecimal, false);
    case 'u': return put_integer(engine, conversion, {fetch_unsigned(engine, conversion), false}, kDecimal, false);
    case 'x': return put_integer(engine, conversion, {fetch_unsigned(engine, conversion), false}, kHexadecimal, false);
    case 'p': return put_integer(engine, conversion, {fetch_unsigned(engine, conversion), false}, kHexadecimal, true);
    case 'c': return hand_byte(engine, static_cast<char>(va_arg(engine.args, int)));
    case 's': return put_string(engine, conversion);
    case '%': return hand_byte(engine, '%');
    default: return hand_byte(engine, '%') && hand_byte(engine, letter);
    }
}

// A directive cut short by the end of the format ends formatting
// quietly, like a lone '%'.
int format_onto(Engine &engine, const char *format) {
    for (const char *at = format; *at != 0; at++) {
        if (*at != '%') {
            if (!hand_byte(engine, *at)) return EOF;
            continue;
        }
        Conversion conversion;
        at = read_spec(engine, at + 1, conversion);
        if (*at == 0) break;
        if (!convert(engine, conversion, *at)) return EOF;
    }
    return static_cast<int>(engine.count);
}

int format_stream(Engine &engine, const char *format) {
    if (wants_control_record(engine.stream, format)) {
        if (!send_control_record(engine)) return EOF;
        format += 2;
    }
    return format_onto(engine, format);
}

}  // namespace

}  // namespace kiv::stdio

extern "C" {

int vfprintf(FILE *stream, const char *format, va_list args) {
    if (stream == nullptr || format == nullptr) return EOF;
    kiv::stdio::Engine engine{stream, {}, 0};
    va_copy(engine.args, args);
    int result = kiv::stdio::format_stream(engine, format);
    va_end(engine.args);
    return result;
}

int fprintf(FILE *stream, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = vfprintf(stream, format, args);
    va_end(args);
    return result;
}

int printf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = vfprintf(stdout, format, args);
    va_end(args);
    return result;
}

}  // extern "C"
