// Read-change-write of a file that several processes update: one at a time,
// under an exclusive lock, each replacing the file whole.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kiv {

// What the file should hold, given what it holds now; nullopt with `error`
// set leaves it as it is.
using FileChange = std::function<std::optional<std::string>(std::string_view current, std::string &error)>;

// Applies `change` to the file at `path` (created when missing); false with
// `error` set on failure.
bool update_locked_file(const std::string &path, const FileChange &change, std::string &error);

}  // namespace kiv
