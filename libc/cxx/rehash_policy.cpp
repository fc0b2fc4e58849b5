// The bucket policy of the unordered containers: bucket counts are primes,
// and a table grows to at least twice its buckets once its elements would
// pass the maximum load factor. An empty table starts at one bucket, its
// first insertion makes room for eleven elements (13 buckets).
//
// Bucket counts come from the fixed list of primes i686 Linux's library
// picks from, so that the same elements iterate in the same order.
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <iterator>
#include <unordered_map>

#include "bucket_primes.h"

namespace {

using kiv::cxx::bucket_primes;

// No larger table can be addressed; a table this large never grows.
constexpr size_t kLargestPrime = *std::rbegin(bucket_primes);
// Elements an empty table makes room for at its first insertion.
constexpr size_t kFirstRoom = 11;
constexpr size_t kNoResize = SIZE_MAX;

size_t listed_prime_at_least(size_t number) {
    const size_t *const prime = std::lower_bound(std::begin(bucket_primes), std::end(bucket_primes), number);
    return prime == std::end(bucket_primes) ? kLargestPrime : *prime;
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
    const size_t buckets = listed_prime_at_least(wanted);
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
