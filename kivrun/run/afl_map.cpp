#include "run/afl_map.h"

#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kiv {

std::optional<int> afl_shm_id_from_environment() {
    const char *id = std::getenv(kAflShmVariable);
    if (id == nullptr) return std::nullopt;
    char *end = nullptr;
    long value = std::strtol(id, &end, 10);
    if (*id == '\0' || *end != '\0' || value < 0 || value > INT32_MAX) return -1;
    return static_cast<int>(value);
}

uint32_t afl_map_size(uint64_t segment_bytes) {
    if (segment_bytes < kMinAflMapSize) return 0;
    return std::bit_floor(static_cast<uint32_t>(std::min<uint64_t>(segment_bytes, kMaxAflMapSize)));
}

std::optional<AflMap> AflMap::attach(int shm_id, std::string &error) {
    shmid_ds segment{};
    if (shm_id < 0 || shmctl(shm_id, IPC_STAT, &segment) != 0) {
        error = std::string(kAflShmVariable) + " names no shared-memory segment";
        return std::nullopt;
    }
    uint32_t size = afl_map_size(segment.shm_segsz);
    if (size == 0) {
        error = "AFL++'s coverage map is smaller than " + std::to_string(kMinAflMapSize) + " bytes";
        return std::nullopt;
    }
    void *base = shmat(shm_id, nullptr, 0);
    if (base == reinterpret_cast<void *>(-1)) {
        error = std::string("cannot attach AFL++'s coverage map: ") + std::strerror(errno);
        return std::nullopt;
    }
    return AflMap(static_cast<uint8_t *>(base), size);
}

}  // namespace kiv
