#include "throw_format.h"

namespace kiv::cxx {

namespace {

// Appends to a fixed buffer, dropping what does not fit and keeping room
// for the terminating zero.
class MessageBuffer {
public:
    MessageBuffer(char *buffer, size_t size) : buffer_(buffer), room_(size - 1) {}
    ~MessageBuffer() { buffer_[length_] = '\0'; }

    void put(char ch) {
        if (length_ < room_) buffer_[length_++] = ch;
    }
    void put(const char *text) {
        while (*text != '\0') put(*text++);
    }
    void put_decimal(size_t value) {
        char digits[3 * sizeof value];
        size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count != 0) put(digits[--count]);
    }

private:
    char *buffer_;
    size_t room_;
    size_t length_ = 0;
};

// Handles the directive at FORMAT (just after '%'); answers how many bytes
// of the format it used.
size_t put_directive(MessageBuffer &out, const char *format, va_list &arguments) {
    if (format[0] == 's') {
        out.put(va_arg(arguments, const char *));
        return 1;
    }
    if (format[0] == 'z' && format[1] == 'u') {
        out.put_decimal(va_arg(arguments, size_t));
        return 2;
    }
    out.put('%');
    return format[0] == '%' ? 1 : 0;
}

}  // namespace

void format_message(char *buffer, size_t size, const char *format, va_list arguments) {
    if (size == 0) return;
    MessageBuffer out(buffer, size);
    while (*format != '\0') {
        if (*format == '%') format += 1 + put_directive(out, format + 1, arguments);
        else out.put(*format++);
    }
}

}  // namespace kiv::cxx
