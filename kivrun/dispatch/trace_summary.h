// The table `strace -c` prints at exit: per system call the time spent in
// the kernel, the calls and the failures, the busiest first.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace kiv {

class TraceSummary {
public:
    void add(const std::string &call, bool failed, double seconds);
    std::string table() const;
    // The same rows as one JSON array.
    std::string json() const;

private:
    struct Row {
        double seconds = 0;
        uint64_t calls = 0;
        uint64_t errors = 0;
    };
    std::map<std::string, Row> rows_;
};

}  // namespace kiv
