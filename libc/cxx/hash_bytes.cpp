// The byte hashes under std::hash of strings and string views: the 32-bit
// MurmurHash2 (the hash std::hash uses) and FNV-1a. The values are stable
// from run to run and equal those of the i686 Linux library, so an
// unordered container of strings iterates in the same order on both.
#include <bits/hash_bytes.h>
#include <stdint.h>
#include <string.h>

namespace {

constexpr uint32_t kMurmurMultiplier = 0x5bd1e995;
constexpr unsigned kMurmurShift = 24;
constexpr uint32_t kFnvPrime = 16777619;

uint32_t load_word(const unsigned char *bytes) {
    uint32_t word;
    memcpy(&word, bytes, sizeof word);
    return word;
}

uint32_t murmur_mix(uint32_t word) {
    word *= kMurmurMultiplier;
    word ^= word >> kMurmurShift;
    return word * kMurmurMultiplier;
}

// The last one to three bytes, little-endian, into the hash.
uint32_t murmur_tail(uint32_t hash, const unsigned char *bytes, size_t count) {
    if (count == 0) return hash;
    uint32_t tail = 0;
    for (size_t index = count; index-- > 0;) tail = tail << 8 | bytes[index];
    return (hash ^ tail) * kMurmurMultiplier;
}

uint32_t murmur_finish(uint32_t hash) {
    hash ^= hash >> 13;
    hash *= kMurmurMultiplier;
    return hash ^ hash >> 15;
}

}  // namespace

namespace std {

static_assert(sizeof(size_t) == sizeof(uint32_t), "the 32-bit hashes serve a 32-bit size_t");

size_t _Hash_bytes(const void *data, size_t length, size_t seed) {
    auto bytes = static_cast<const unsigned char *>(data);
    uint32_t hash = seed ^ length;
    for (; length >= sizeof(uint32_t); length -= sizeof(uint32_t), bytes += sizeof(uint32_t))
        hash = hash * kMurmurMultiplier ^ murmur_mix(load_word(bytes));
    return murmur_finish(murmur_tail(hash, bytes, length));
}

size_t _Fnv_hash_bytes(const void *data, size_t length, size_t seed) {
    auto bytes = static_cast<const unsigned char *>(data);
    uint32_t hash = seed;
    for (size_t index = 0; index < length; ++index) hash = (hash ^ bytes[index]) * kFnvPrime;
    return hash;
}

}  // namespace std
