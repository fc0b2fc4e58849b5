#include "coverage/source_paths.h"

#include <map>
#include <utility>
#include <vector>

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
    // Names that locate to one path ("a/../b.c" and "b.c") become one file.
    std::vector<std::string> located;
    std::map<std::string, FileIndex, std::less<>> index_of;
    std::vector<FileIndex> renumbered;
    renumbered.reserve(debug.files.size());
    for (const std::string &recorded : debug.files) {
        auto [known, added] = index_of.try_emplace(located_source(recorded, kit_sources),
                                                   static_cast<FileIndex>(located.size()));
        if (added) located.push_back(known->first);
        renumbered.push_back(known->second);
    }
    for (LineStart &line : debug.lines) line.file = renumbered[line.file];
    for (FunctionStart &function : debug.functions) function.file = renumbered[function.file];
    debug.files = std::move(located);
}

}  // namespace kiv
