// kivrun as AFL++'s target (afl-fuzz, afl-showmap, afl-tmin, afl-cmin):
// AFL++ names its shared-memory coverage map in the environment, and
// kivrun writes the guest's edge coverage there.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kiv {

// The variable naming the map's System V shared-memory segment: its
// presence in the binary is also what afl-fuzz looks for before it runs one.
inline constexpr char kAflShmVariable[] = "__AFL_SHM_ID";
// AFL++'s classic map size, enough for any kivos program; a smaller segment
// gets a smaller map.
inline constexpr uint32_t kMaxAflMapSize = 1u << 16;
inline constexpr uint32_t kMinAflMapSize = 1u << 8;

// The map's segment id; nullopt when kivrun does not run under AFL++ (-1
// for a value that names no segment).
std::optional<int> afl_shm_id_from_environment();

// The map, attached for the process's life (forked children share it).
class AflMap {
public:
    // nullopt, with `error` set, when the segment cannot be attached or is
    // smaller than kMinAflMapSize.
    static std::optional<AflMap> attach(int shm_id, std::string &error);
    // The largest power of two that fits in the segment, up to kMaxAflMapSize.
    std::span<uint8_t> bytes() const { return {base_, size_}; }

private:
    AflMap(uint8_t *base, uint32_t size) : base_(base), size_(size) {}
    uint8_t *base_;
    uint32_t size_;
};

// The largest power of two from kMinAflMapSize up to kMaxAflMapSize within
// `segment_bytes`; 0 when it is smaller than kMinAflMapSize.
uint32_t afl_map_size(uint64_t segment_bytes);

}  // namespace kiv
