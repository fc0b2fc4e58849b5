// Files for host tests at any layer: the guest programs the build made, a
// throw-away directory, whole-file reads and a widened ELF section table.
#pragma once

#include <elf.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/file.h"

namespace kiv::test {

// A guest program built by the guest project: tests/<name> or cmd/<name>.
inline std::string guest_program(const std::string &name) { return std::string(KIV_GUEST_DIR) + "/tests/" + name; }
inline std::string command_program(const std::string &name) { return std::string(KIV_GUEST_DIR) + "/cmd/" + name; }

// The whole file; empty when it cannot be read, so the test fails on what
// it expected to find.
inline std::vector<uint8_t> read_test_file(const std::string &path) {
    return read_file(path, UINT64_MAX).value_or(std::vector<uint8_t>{});
}

// A small valid executable with a symbol table, to start every mutation from.
inline const std::vector<uint8_t> &valid_executable() {
    static const std::vector<uint8_t> bytes = read_test_file(guest_program("t_startup"));
    return bytes;
}

inline Elf32_Ehdr &elf_header(std::vector<uint8_t> &file) { return *reinterpret_cast<Elf32_Ehdr *>(file.data()); }

// `file` with its section header table moved to the end and each entry
// padded with zeros to `entry_size` bytes, as the ELF standard allows.
inline void widen_section_headers(std::vector<uint8_t> &file, uint16_t entry_size) {
    Elf32_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    std::vector<uint8_t> table;
    for (size_t i = 0; i < header.e_shnum; i++) {
        auto entry = file.begin() + static_cast<std::ptrdiff_t>(header.e_shoff + i * header.e_shentsize);
        table.insert(table.end(), entry, entry + header.e_shentsize);
        table.resize(table.size() + entry_size - header.e_shentsize);
    }
    header.e_shoff = static_cast<uint32_t>(file.size());
    header.e_shentsize = entry_size;
    file.insert(file.end(), table.begin(), table.end());
    std::memcpy(file.data(), &header, sizeof header);
}

// A fresh empty directory, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kivtest-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::string operator/(const std::string &name) const { return (path_ / name).string(); }

    void write(const std::string &name, const std::string &content) const {
        std::ofstream(path_ / name, std::ios::binary) << content;
    }
    std::string read(const std::string &name) const {
        auto bytes = read_test_file(*this / name);
        return std::string(bytes.begin(), bytes.end());
    }
    bool exists(const std::string &name) const { return std::filesystem::exists(path_ / name); }

private:
    std::filesystem::path path_;
};

}  // namespace kiv::test
