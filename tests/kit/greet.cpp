// A kit user's command in C++: classes and templates without the C++ library.
#include <stdio.h>
#include <string.h>

namespace {

template <typename T>
T larger(T a, T b) { return a > b ? a : b; }

class Greeter {
public:
    explicit Greeter(const char *name) : name_(name) {}
    void greet() const { printf("C++ greets %s (%u)\n", name_, static_cast<unsigned>(strlen(name_))); }

private:
    const char *name_;
};

}  // namespace

int main(int argc, char **argv) {
    Greeter(argc > 1 ? argv[1] : "kivos").greet();
    return larger(argc, 2) - 2;
}
