// Where the C++ library would throw: each case, named by the first
// argument, ends the program there. Built with -fno-exceptions both by
// kivos-c++ and natively, so the two print the same message on descriptor 2.
#include <bitset>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace {

// Sizes and positions come from the argument count, so that no case is
// decided at compile time.
struct Case {
    const char *name;
    void (*run)(int);
};

const Case kCases[] = {
    {"vector_at", [](int n) { std::vector<int>(3).at(static_cast<unsigned>(n + 4)); }},
    {"string_at", [](int n) { std::string("abc").at(static_cast<unsigned>(n + 9)); }},
    {"substr", [](int n) { std::string("abc").substr(static_cast<unsigned>(n + 8)); }},
    {"map_at",
     [](int n) {
         std::map<int, int>{{1, 2}}.at(n + 1);
     }},
    {"vector_reserve", [](int n) { std::vector<int>().reserve(static_cast<unsigned>(0x7fffffff - n)); }},
    {"string_create", [](int n) { std::string(static_cast<unsigned>(0x7fffffff - n), 'x'); }},
    {"function_empty", [](int n) { std::function<int(int)>()(n); }},
    {"stoi_invalid", [](int n) { std::stoi(std::string(static_cast<unsigned>(n), 'x')); }},
    {"bitset_to_ulong", [](int n) { (std::bitset<64>(1) << (n + 39)).to_ulong(); }},
    {"bitset_string", [](int n) { std::bitset<4>(std::string(static_cast<unsigned>(n), '2')); }},
    {"optional_value",
     [](int n) {
         std::optional<int> empty;
         empty.value() += n;
     }},
    {"variant_get", [](int n) { std::get<int>(std::variant<int, char>(static_cast<char>(n))); }},
    {"terminate", [](int) { std::terminate(); }},
};

}  // namespace

int main(int argc, char **argv) {
    for (const Case &entry : kCases) {
        if (argc > 1 && std::strcmp(argv[1], entry.name) == 0) {
            entry.run(argc);
            std::puts("not stopped");
            return 0;
        }
    }
    std::puts("unknown case");
    return 2;
}
