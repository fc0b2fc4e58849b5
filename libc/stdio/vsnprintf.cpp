// The buffer formatting engine: formats into a caller's buffer, truncating
// what does not fit and always answering the full length. It calls nothing
// else of the library (it measures strings itself) and touches no global, so
// it is safe from any context, even from inside another formatting call.
#include <stdint.h>

#include "stdio.h"

namespace kiv::stdio {

namespace {

// Enough for any 32-bit value: at most 10 decimal or 8 hexadecimal digits.
constexpr uint32_t kDigitAreaSize = 24;
constexpr uint32_t kDecimal = 10;
constexpr uint32_t kHexadecimal = 16;
constexpr const char kLowerDigits[] = "0123456789abcdef";
constexpr const char kUpperDigits[] = "0123456789ABCDEF";
constexpr int32_t kNoPrecision = -1;
// vsprintf's buffer has no size of its own; this is the size it assumes.
constexpr uint32_t kUnboundedSize = 65536;
constexpr const char kNullText[] = "(null)";

// Writes the digits of `value`, most significant first, into `digits` and
// answers their count; 0 gives the single digit '0'.
uint32_t snbuf_render_unsigned(uint32_t value, uint32_t base, bool upper_case, char *digits) {
    const char *table = upper_case ? kUpperDigits : kLowerDigits;
    uint32_t count = 0;
    for (;;) {
        digits[count++] = table[value % base];
        if (value < base) break;
        value /= base;
    }
    for (uint32_t low = 0, high = count - 1; low < high; low++, high--) {
        char swapped = digits[low];
        digits[low] = digits[high];
        digits[high] = swapped;
    }
    return count;
}

// Where produced characters go: the position counts every character and
// wraps at 2^32 like the int it becomes, but only those with room before
// the terminator's byte are stored. Once a character has not fitted the
// sink stays full, so a wrapped position can never store again, and what
// no longer fits costs one step however long it is.
struct Sink {
    char *buffer;   // null when nothing is to be stored, terminator included
    uint32_t room;  // characters that fit before the terminator's byte
    uint32_t position;
    bool full;

    static Sink over(char *buffer, uint32_t size) {
        if (buffer == nullptr || size == 0) return {nullptr, 0, 0, true};
        return {buffer, size - 1, 0, false};
    }

    // Counts `length` more characters and answers how many of them are
    // to be stored, from the position before the count.
    uint32_t claim(uint32_t length) {
        uint32_t left = full ? 0 : room - position;
        uint32_t fitting = length < left ? length : left;
        full = full || fitting < length;
        position += length;
        return fitting;
    }

    void put_repeated(char ch, uint32_t count) {
        uint32_t start = position;
        uint32_t fitting = claim(count);
        for (uint32_t i = 0; i < fitting; i++) buffer[start + i] = ch;
    }

    void put_text(const char *text, uint32_t length) {
        uint32_t start = position;
        uint32_t fitting = claim(length);
        for (uint32_t i = 0; i < fitting; i++) buffer[start + i] = text[i];
    }

    void put(char ch) { put_text(&ch, 1); }

    // Until full, everything produced was stored.
    void terminate() {
        if (buffer != nullptr) buffer[full ? room : position] = '\0';
    }
};

// Every argument is one 32-bit slot, whatever length modifier was written.
struct Arguments {
    va_list list;

    uint32_t next() { return va_arg(list, uint32_t); }
    int32_t next_signed() { return static_cast<int32_t>(next()); }
};

struct Directive {
    bool left = false;
    bool zero = false;
    bool plus = false;
    int32_t width = 0;
    int32_t precision = kNoPrecision;
    char letter = '\0';
};

struct IntegerLetter {
    char letter;
    uint32_t base;
    bool upper_case;
    bool is_signed;
};

constexpr IntegerLetter kIntegerLetters[] = {
    {'d', kDecimal, false, true},      {'i', kDecimal, false, true},     {'u', kDecimal, false, false},
    {'x', kHexadecimal, false, false}, {'X', kHexadecimal, true, false},
};

bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

// Digits accumulate in 32 bits and wrap; no width or precision is refused.
int32_t read_number(const char *&format) {
    uint32_t value = 0;
    while (is_digit(*format)) value = value * kDecimal + static_cast<uint32_t>(*format++ - '0');
    return static_cast<int32_t>(value);
}

void read_flags(const char *&format, Directive &conversion) {
    for (;; format++) {
        switch (*format) {
        case '-': conversion.left = true; break;
        case '0': conversion.zero = true; break;
        case '+': conversion.plus = true; break;
        default: return;
        }
    }
}

// A '*' takes its value from the next argument; otherwise digits, if any.
int32_t read_amount(const char *&format, Arguments &args) {
    if (*format != '*') return read_number(format);
    format++;
    return args.next_signed();
}

void skip_length(const char *&format) {
    if (*format == 'z') {
        format++;
    } else if (*format == 'l') {
        format++;
        if (*format == 'l') format++;
    }
}

// Reads what follows a '%' up to and including the conversion letter; a
// letter of '\0' means the format ended inside the directive.
Directive read_directive(const char *&format, Arguments &args) {
    Directive conversion;
    read_flags(format, conversion);
    conversion.width = read_amount(format, args);
    if (*format == '.') {
        format++;
        conversion.precision = read_amount(format, args);
    }
    skip_length(format);
    conversion.letter = *format;
    if (conversion.letter != '\0') format++;
    return conversion;
}

// How far `amount` exceeds `used`, or 0; a negative amount means none.
uint32_t excess(int32_t amount, uint32_t used) {
    return amount > int64_t{used} ? static_cast<uint32_t>(amount - int64_t{used}) : 0;
}

// Precision zeros before the digits.
uint32_t precision_zeros(const Directive &conversion, uint32_t digit_count) {
    return excess(conversion.precision, digit_count);
}

uint32_t padding_for(const Directive &conversion, uint32_t total) { return excess(conversion.width, total); }

// '-' for a negative signed value, '+' when asked for a signed one, else
// none; the digits show the magnitude, so INT32_MIN prints in full.
char sign_for(const IntegerLetter &kind, const Directive &conversion, uint32_t value) {
    if (!kind.is_signed) return '\0';
    if (static_cast<int32_t>(value) < 0) return '-';
    return conversion.plus ? '+' : '\0';
}

void put_integer(Sink &sink, const Directive &conversion, const IntegerLetter &kind, uint32_t value) {
    char sign = sign_for(kind, conversion, value);
    uint32_t magnitude = sign == '-' ? 0u - value : value;
    char digits[kDigitAreaSize];
    uint32_t digit_count = snbuf_render_unsigned(magnitude, kind.base, kind.upper_case, digits);
    uint32_t zeros = precision_zeros(conversion, digit_count);
    uint32_t sign_width = sign != '\0' ? 1 : 0;
    uint32_t padding = padding_for(conversion, sign_width + zeros + digit_count);
    bool zero_fill = conversion.zero && !conversion.left && conversion.precision < 0;
    if (!conversion.left && !zero_fill) sink.put_repeated(' ', padding);
    if (sign != '\0') sink.put(sign);
    if (zero_fill) sink.put_repeated('0', padding);
    sink.put_repeated('0', zeros);
    sink.put_text(digits, digit_count);
    if (conversion.left) sink.put_repeated(' ', padding);
}

// Measures at most `limit` bytes, so a precision lets the text be
// unterminated; a negative limit means the whole text.
uint32_t measure(const char *text, int32_t limit) {
    uint32_t length = 0;
    while ((limit < 0 || length < static_cast<uint32_t>(limit)) && text[length] != '\0') length++;
    return length;
}

void put_string(Sink &sink, const Directive &conversion, const char *text) {
    if (text == nullptr) text = kNullText;
    uint32_t length = measure(text, conversion.precision);
    uint32_t padding = padding_for(conversion, length);
    if (!conversion.left) sink.put_repeated(' ', padding);
    sink.put_text(text, length);
    if (conversion.left) sink.put_repeated(' ', padding);
}

void put_pointer(Sink &sink, uint32_t address) {
    char digits[kDigitAreaSize];
    uint32_t digit_count = snbuf_render_unsigned(address, kHexadecimal, false, digits);
    sink.put('0');
    sink.put('x');
    sink.put_text(digits, digit_count);
}

const IntegerLetter *find_integer_letter(char letter) {
    for (const IntegerLetter &kind : kIntegerLetters) {
        if (kind.letter == letter) return &kind;
    }
    return nullptr;
}

void put_conversion(Sink &sink, const Directive &conversion, Arguments &args) {
    if (const IntegerLetter *kind = find_integer_letter(conversion.letter)) {
        put_integer(sink, conversion, *kind, args.next());
        return;
    }
    switch (conversion.letter) {
    case 'p': put_pointer(sink, args.next()); break;
    case 'c': sink.put(static_cast<char>(args.next())); break;
    case 's': put_string(sink, conversion, reinterpret_cast<const char *>(args.next())); break;
    case '%': sink.put('%'); break;
    default:
        // Unknown letters are shown, not rejected.
        sink.put('%');
        sink.put(conversion.letter);
        break;
    }
}

void format_into(Sink &sink, const char *format, Arguments &args) {
    while (*format != '\0') {
        if (*format != '%') {
            sink.put(*format++);
            continue;
        }
        format++;
        Directive conversion = read_directive(format, args);
        if (conversion.letter == '\0') return;
        put_conversion(sink, conversion, args);
    }
}

}  // namespace

}  // namespace kiv::stdio

extern "C" {

int vsnprintf(char *buffer, size_t size, const char *format, va_list args) {
    kiv::stdio::Sink sink = kiv::stdio::Sink::over(buffer, size);
    if (format != nullptr) {
        kiv::stdio::Arguments cursor;
        va_copy(cursor.list, args);
        kiv::stdio::format_into(sink, format, cursor);
        va_end(cursor.list);
    }
    sink.terminate();
    return static_cast<int>(sink.position);
}

int snprintf(char *buffer, size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = vsnprintf(buffer, size, format, args);
    va_end(args);
    return length;
}

int vsprintf(char *buffer, const char *format, va_list args) {
    return vsnprintf(buffer, kiv::stdio::kUnboundedSize, format, args);
}

int sprintf(char *buffer, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = vsprintf(buffer, format, args);
    va_end(args);
    return length;
}

}  // extern "C"
