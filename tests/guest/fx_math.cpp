// Evaluates the functions of the shared argument tables named by its
// arguments with the kit's libm (called with the x87 control word of a
// first argument --control=HEX, when there is one) and writes, for each,
// for double, float and long double in turn, each result's value bytes
// followed by errno's low byte, to standard output through the raw write
// wrapper.
#include <errno.h>
#include <stdint.h>

#include "math_table.h"
#include "string.h"
#include "unistd.h"

namespace {

constexpr unsigned kBufferSize = 1 << 16;

class Output {
public:
    void put(const void *bytes, unsigned count) {
        if (used_ + count > kBufferSize) flush();
        __builtin_memcpy(buffer_ + used_, bytes, count);
        used_ += count;
    }
    void flush() {
        for (unsigned done = 0; done < used_;) {
            int written = write(1, buffer_ + done, used_ - done);
            if (written <= 0) return;
            done += static_cast<unsigned>(written);
        }
        used_ = 0;
    }

private:
    unsigned char buffer_[kBufferSize] = {};
    unsigned used_ = 0;
};

constinit Output output;

// The x87 state a process of the i386 ABI starts with: extended precision,
// rounding to nearest, every exception masked. The tables are computed in
// it, as the host computes them.
constexpr uint16_t kAbiControlWord = 0x037f;
constexpr char kControlOption[] = "--control=";
uint16_t caller_control_word = kAbiControlWord;

void set_control_word(uint16_t word) { asm volatile("fldcw %0" : : "m"(word)); }

uint16_t parse_hex(const char *text) {
    uint16_t value = 0;
    for (; *text != '\0'; text++) {
        char c = *text;
        unsigned digit = c >= 'a' ? static_cast<unsigned>(c - 'a' + 10) : static_cast<unsigned>(c - '0');
        value = static_cast<uint16_t>(value * 16 + digit);
    }
    return value;
}

template <typename T> void report(const kiv_math_table::MathFunction &function, unsigned index) {
    kiv_math_table::Table<T> table(function, index);
    for (unsigned i = 0; i < table.size(); i++) {
        kiv_math_table::Arguments<T> arguments = table.at(i);
        errno = 0;
        set_control_word(caller_control_word);
        T result = kiv_math_table::evaluate(function, arguments);
        set_control_word(kAbiControlWord);
        unsigned char error = static_cast<unsigned char>(errno);
        output.put(&result, kiv_math_table::kValueBytes<T>);
        output.put(&error, 1);
    }
}

}  // namespace

extern "C" int main(int argc, char **argv) {
    set_control_word(kAbiControlWord);
    int first = 1;
    size_t option_length = sizeof kControlOption - 1;
    if (argc > 1 && strncmp(argv[1], kControlOption, option_length) == 0) {
        caller_control_word = parse_hex(argv[1] + option_length);
        first = 2;
    }
    for (int a = first; a < argc; a++) {
        for (unsigned i = 0; i < kiv_math_table::kFunctionCount; i++) {
            if (strcmp(argv[a], kiv_math_table::kFunctions[i].name) != 0) continue;
            report<double>(kiv_math_table::kFunctions[i], i);
            report<float>(kiv_math_table::kFunctions[i], i);
            report<long double>(kiv_math_table::kFunctions[i], i);
        }
    }
    output.flush();
    return 0;
}
