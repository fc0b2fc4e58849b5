// Prints libc/cxx/bucket_primes.h: every bucket count the i686 Linux
// library's unordered containers can take. Its bucket policy is asked for
// each count one past its last answer, up to the count it gives for the
// largest request. Build and run natively to regenerate the header:
//   i686-linux-gnu-g++ -std=c++17 -static -O2 -o cxx_bucket_primes tools/cxx_bucket_primes.cpp
//   ./cxx_bucket_primes > libc/cxx/bucket_primes.h
// It fails if an answer is below the count asked for, or if the room the
// policy leaves before the next growth is not the answer times the maximum
// load factor (all room for the largest), which the runtime derives.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <unordered_map>

namespace {

constexpr char kHead[] =
    "// Every bucket count i686 Linux's C++ library gives its unordered\n"
    "// containers, in order: measured from that library by\n"
    "// tools/cxx_bucket_primes.cpp, which regenerates this file.\n"
    "#pragma once\n"
    "#include <stddef.h>\n"
    "\n"
    "namespace kiv::cxx {\n"
    "\n"
    "inline constexpr size_t bucket_primes[] = {\n";
constexpr char kTail[] =
    "};\n"
    "\n"
    "}  // namespace kiv::cxx\n";

constexpr float kLoadFactors[] = {1.0f, 0.5f, 3.0f};

size_t room_for(size_t answer, size_t largest, float load_factor) {
    if (answer == largest) return SIZE_MAX;
    return static_cast<size_t>(std::floor(answer * static_cast<double>(load_factor)));
}

bool measured_as_derived(size_t wanted, size_t answer, size_t largest) {
    if (answer < wanted) {
        std::fprintf(stderr, "count %zu: answer %zu below it\n", wanted, answer);
        return false;
    }
    for (const float load_factor : kLoadFactors) {
        std::__detail::_Prime_rehash_policy policy(load_factor);
        policy._M_next_bkt(wanted);
        if (policy._M_state() != room_for(answer, largest, load_factor)) {
            std::fprintf(stderr, "count %zu: room %zu\n", wanted, policy._M_state());
            return false;
        }
    }
    return true;
}

}  // namespace

int main() {
    const std::__detail::_Prime_rehash_policy policy(1.0f);
    const size_t largest = policy._M_next_bkt(SIZE_MAX);
    std::printf("%s", kHead);
    for (size_t wanted = 1;; wanted = policy._M_next_bkt(wanted) + 1) {
        const size_t answer = policy._M_next_bkt(wanted);
        if (!measured_as_derived(wanted, answer, largest)) return 1;
        std::printf("    %zuu,\n", answer);
        if (answer == largest) break;
    }
    std::printf("%s", kTail);
}
