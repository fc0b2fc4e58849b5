// Where a record's source files are on this machine. The kit's library
// names its sources under /kivos-kit/src in its debug information (the same
// on every machine); an lcov reader gets them where this kivrun's kit keeps
// them, so that genhtml opens every file as it is.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "coverage/debug_lines.h"

namespace kiv {

// The prefix the library's debug information gives its sources.
inline constexpr std::string_view kKitSourcePrefix = "/kivos-kit/src";

// The kit's sources for the kivrun at `executable`: lib/kivos/src beside
// its bin/ in an installed kit; otherwise `built_from` (the source tree a
// build tree's kivrun was made from) when it still exists; otherwise empty.
std::string kit_sources_directory(const std::filesystem::path &executable, const std::filesystem::path &built_from);

// `recorded` with the kit's prefix replaced by `kit_sources` (unless that
// is empty) and without "." or "a/.." steps; a program's own paths keep
// where they are.
std::string located_source(std::string_view recorded, const std::string &kit_sources);

// Every file of `debug` located as above; names that locate to one path
// become one file.
void locate_sources(DebugLines &debug, const std::string &kit_sources);

}  // namespace kiv
