// A kit user's command in C++: classes with virtual destructors on the heap,
// templates, static constructors (a global initialised by a call, a
// constructor function) and the freestanding C++ headers, without the rest
// of the C++ library.
#include <stdio.h>
#include <string.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <new>
#include <type_traits>

static_assert(std::is_same_v<std::uint32_t, unsigned int>);
static_assert(std::numeric_limits<std::int16_t>::max() == 32767);

namespace {

template <typename T> T larger(T a, T b) { return a > b ? a : b; }

class Greeter {
public:
    explicit Greeter(const char *name) : name_(name) {}
    virtual ~Greeter() = default;
    virtual const char *language() const { return "C++"; }
    const char *name() const { return name_; }

private:
    const char *name_;
};

class LoudGreeter : public Greeter {
public:
    using Greeter::Greeter;
    const char *language() const override { return "C++!"; }
};

// Both are set before main, by code run from .init_array.
const std::size_t default_length = strlen("kivos");
int constructor_mark = 0;
__attribute__((constructor)) void mark_start() { constructor_mark = 42; }

const Greeter global_greeter("global");

}  // namespace

int main(int argc, char **argv) {
    const char *name = argc > 1 ? argv[1] : "kivos";
    Greeter *greeter = argc > 2 ? new LoudGreeter(name) : new (std::nothrow) Greeter(name);
    int sum = 0;
    for (int term : {1, 2, 3}) sum += term;
    printf("%s greets %s (%u), before main: %u %d %s, sum %d\n", greeter->language(), greeter->name(),
           static_cast<unsigned>(strlen(greeter->name())), static_cast<unsigned>(default_length), constructor_mark,
           global_greeter.name(), sum);
    delete greeter;
    return larger(argc, 2) - 2;
}
