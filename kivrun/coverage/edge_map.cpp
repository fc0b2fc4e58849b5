#include "coverage/edge_map.h"

namespace kiv {

EdgeMap::EdgeMap(std::span<uint8_t> map) : map_(map.data()), mask_(static_cast<uint32_t>(map.size() - 1)) {}

}  // namespace kiv
