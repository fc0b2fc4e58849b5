// The other end of a spawn: a kivrun started with a start record instead of
// a command line.
#pragma once

#include <optional>

namespace kiv {

// kivrun's hidden entry for a spawned process: runs it when argv asks for
// it (and gives kivrun's exit status), otherwise nullopt.
std::optional<int> run_if_spawned(int argc, char **argv);

}  // namespace kiv
