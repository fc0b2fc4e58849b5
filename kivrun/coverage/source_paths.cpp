#include "coverage/source_paths.h"

#include <map>

namespace kiv {

namespace {

// The installed kit: KIT/bin/kivrun and KIT/lib/kivos/src.
const std::filesystem::path kSourcesFromBin = "../lib/kivos/src";

}  // namespace

std::string kit_sources_directory(const std::filesystem::path &executable, const std::filesystem::path &built_from) {
    std::error_code error;
    std::filesystem::path installed = (executable.parent_path() / kSourcesFromBin).lexically_normal();
    if (std::filesystem::is_directory(installed, error)) return installed.string();
    if (!built_from.empty() && std::filesystem::is_directory(built_from, error)) return built_from.string();
    return "";
}

std::string located_source(std::string_view recorded, const std::string &kit_sources) {
    std::string path(recorded);
    bool in_kit = recorded.starts_with(kKitSourcePrefix) &&
                  (recorded.size() == kKitSourcePrefix.size() || recorded[kKitSourcePrefix.size()] == '/');
    if (in_kit && !kit_sources.empty()) path = kit_sources + path.substr(kKitSourcePrefix.size());
    return std::filesystem::path(path).lexically_normal().string();
}

void locate_sources(DebugLines &debug, const std::string &kit_sources) {
    // A unit's few files each stand in thousands of rows.
    std::map<std::string, std::string, std::less<>> located;
    auto locate = [&](std::string &file) {
        auto known = located.find(file);
        if (known == located.end()) known = located.emplace(file, located_source(file, kit_sources)).first;
        file = known->second;
    };
    for (LineStart &line : debug.lines) locate(line.file);
    for (FunctionStart &function : debug.functions) locate(function.file);
}

}  // namespace kiv
