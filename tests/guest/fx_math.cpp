// Evaluates the functions of the shared argument tables named by its
// arguments with the kit's libm and writes, for each, for double, float and
// long double in turn, each result's value bytes followed by errno's low
// byte, to standard output through the raw write wrapper.
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

template <typename T>
void report(const kiv_math_table::MathFunction &function, unsigned index) {
    kiv_math_table::Table<T> table(function, index);
    for (unsigned i = 0; i < table.size(); i++) {
        kiv_math_table::Arguments<T> arguments = table.at(i);
        errno = 0;
        T result = kiv_math_table::evaluate(function, arguments);
        unsigned char error = static_cast<unsigned char>(errno);
        output.put(&result, kiv_math_table::kValueBytes<T>);
        output.put(&error, 1);
    }
}

}  // namespace

// The x87 state a process of the i386 ABI starts with: extended precision,
// rounding to nearest, every exception masked. The tables are computed in
// it, as the host computes them.
constexpr uint16_t kAbiControlWord = 0x037f;

extern "C" int main(int argc, char **argv) {
    asm volatile("fldcw %0" : : "m"(kAbiControlWord));
    for (int a = 1; a < argc; a++) {
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
