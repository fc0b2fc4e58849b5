// The bucket policy of the unordered containers: bucket counts are primes,
// and a table grows to at least twice its buckets once its elements would
// pass the maximum load factor. An empty table starts at one bucket, its
// first insertion makes room for eleven elements (13 buckets).
//
// A bucket count is the smallest prime not below the count asked for. The
// i686 Linux library picks from a fixed list of primes instead; up to 257
// buckets (the first five growths) the counts are the same.
#include <unordered_map>
#include <stddef.h>
#include <stdint.h>

namespace {

// The largest prime below 2^32: no larger table can be addressed.
constexpr size_t kLargestPrime = 4294967291u;
// Elements an empty table makes room for at its first insertion.
constexpr size_t kFirstRoom = 11;
constexpr size_t kNoResize = SIZE_MAX;

bool is_prime(size_t number) {
    if (number < 2) return false;
    if (number % 2 == 0) return number == 2;
    for (size_t divisor = 3; divisor <= number / divisor; divisor += 2)
        if (number % divisor == 0) return false;
    return true;
}

size_t prime_at_least(size_t number) {
    if (number >= kLargestPrime) return kLargestPrime;
    while (!is_prime(number)) ++number;
    return number;
}

size_t elements_for(size_t buckets, float max_load_factor) {
    return static_cast<size_t>(__builtin_floor(buckets * static_cast<double>(max_load_factor)));
}

}  // namespace

namespace std::__detail {

size_t _Prime_rehash_policy::_M_next_bkt(size_t wanted) const {
    // A table made with no buckets asked for stays at one, and its next
    // insertion grows it.
    if (wanted == 0) return 1;
    const size_t buckets = prime_at_least(wanted);
    _M_next_resize = buckets == kLargestPrime ? kNoResize : elements_for(buckets, _M_max_load_factor);
    return buckets;
}

pair<bool, size_t> _Prime_rehash_policy::_M_need_rehash(size_t buckets, size_t elements, size_t inserted) const {
    const size_t total = elements + inserted;
    if (total <= _M_next_resize) return {false, 0};
    const size_t room = _M_next_resize == 0 && total < kFirstRoom ? kFirstRoom : total;
    const double buckets_needed = room / static_cast<double>(_M_max_load_factor);
    if (buckets_needed >= buckets) {
        const size_t grown = buckets * _S_growth_factor;
        const auto least = static_cast<size_t>(__builtin_floor(buckets_needed)) + 1;
        return {true, _M_next_bkt(least > grown ? least : grown)};
    }
    _M_next_resize = elements_for(buckets, _M_max_load_factor);
    return {false, 0};
}

}  // namespace std::__detail
