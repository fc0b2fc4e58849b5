// Every guest path stays inside the sandbox: ".." above the root, host
// paths and symbolic links that lead out all fail, and nothing outside is
// read, created or changed.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "guest_runner.h"

namespace kiv::test {
namespace {

namespace fs = std::filesystem;

// A sandbox "root" inside a directory that also holds an "outside" folder
// with a secret, and links in the root that point out in every way.
class Escapes : public testing::Test {
protected:
    void SetUp() override {
        outside = top.path() / "outside";
        root = top.path() / "root";
        fs::create_directories(outside);
        fs::create_directories(root / "inside");
        top.write("outside/secret", "S");
        top.write("root/inside/file", "I");
        fs::create_directory_symlink(outside, root / "link_abs");
        fs::create_directory_symlink("../outside", root / "link_rel");
        fs::create_symlink(outside / "secret", root / "file_abs");
        fs::create_symlink("../outside/secret", root / "file_rel");
        fs::create_directory_symlink("inside", root / "link_in");
    }

    std::string run(const std::vector<std::string> &operations) {
        RunOptions options;
        options.root = root.string();
        GuestRun result = run_guest(guest_program("fx_fs"), operations, options);
        EXPECT_EQ(result.result.outcome, RunResult::Outcome::Exited) << result.result.message;
        trace = result.trace;
        return result.out;
    }

    std::vector<std::string> outside_listing() {
        std::vector<std::string> names;
        for (auto &entry : fs::recursive_directory_iterator(outside)) names.push_back(entry.path().string());
        return names;
    }

    TempDir top;
    fs::path outside, root;
    std::string trace;  // of the last run
};

TEST_F(Escapes, EveryWayOutFails) {
    std::string secret = (outside / "secret").string();
    const std::vector<std::string> attempts = {
        "read",      "../outside/secret",
        "read",      "/../outside/secret",
        "read",      secret,
        "read",      "link_abs/secret",
        "read",      "link_rel/secret",
        "read",      "file_abs",
        "read",      "file_rel",
        "access",    "file_rel",
        "create",    "../outside/new",
        "create",    "link_abs/new",
        "create",    "link_rel/new",
        "create",    "file_rel",
        "writefile", "../outside/new",
        "writefile", "link_abs/new",
        "writefile", "link_rel/secret",
        "stream",    "../outside/new",
        "stream",    "link_rel/new",
        "mkdir",     "../outside/d",
        "mkdir",     "link_abs/d",
        "mkfifo",    "link_rel/f",
        "unlink",    "link_rel/secret",
        "unlink",    "../outside/secret",
        "rmdir",     "..",
        "chdir",     "..",
        "chdir",     "link_abs",
        "chdir",     "link_rel",
    };
    auto before = outside_listing();
    std::string out = run(attempts);
    std::istringstream lines(out);
    size_t count = 0;
    for (std::string line; std::getline(lines, line); count++) {
        if (line.rfind("cwd ", 0) == 0) {
            EXPECT_EQ(line, "cwd /");
            count--;
            continue;
        }
        EXPECT_NE(line.find(" -> -1"), std::string::npos) << line;
    }
    EXPECT_EQ(count, attempts.size() / 2);
    // Whether `..` or a link leads out, the trace says so in its words.
    for (const char *path : {"../outside/secret", "link_abs/secret", "link_rel/secret"})
        EXPECT_NE(
            trace.find("open(\"" + std::string(path) + "\", O_RDONLY, third=0x0) = -1 EXDEV (path leaves the root)"),
            std::string::npos)
            << path << "\n"
            << trace;
    EXPECT_EQ(outside_listing(), before);
    EXPECT_EQ(top.read("outside/secret"), "S");
}

TEST_F(Escapes, InsideTheRootEverythingWorks) {
    std::string out = run({"read",   "link_in/file",   "read",   "/inside/../inside/file",
                           "chdir",  "link_in",        "read",   "file",
                           "read",   "../inside/file", "chdir",  "/",
                           "mkdir",  "made",           "create", "made/new",
                           "unlink", "made/new",       "rmdir",  "made",
                           "unlink", "file_abs"});
    EXPECT_EQ(out,
              "read link_in/file -> 73\n"
              "read /inside/../inside/file -> 73\n"
              "cwd /link_in\n"
              "chdir link_in -> 0\n"
              "read file -> 73\n"
              "read ../inside/file -> 73\n"
              "cwd /\n"
              "chdir / -> 0\n"
              "mkdir made -> 0\n"
              "create made/new -> 3\n"
              "unlink made/new -> 0\n"
              "rmdir made -> 0\n"
              "unlink file_abs -> 0\n");
    // Removing the link removed the link, not what it pointed at.
    EXPECT_EQ(top.read("outside/secret"), "S");
}

TEST_F(Escapes, WholeFileWritesReplaceAtomically) {
    top.write("root/kept", "old content");
    const auto kOwnerOnly = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(root / "kept", kOwnerOnly);
    std::string out = run({"writefile", "kept/", "writefile", "kept", "writefile", "missing_dir/x"});
    EXPECT_EQ(out, "writefile kept/ -> -1\nwritefile kept -> 8\nwritefile missing_dir/x -> -1\n");
    EXPECT_EQ(top.read("root/kept"), "replaced");
    EXPECT_EQ(fs::status(root / "kept").permissions(), kOwnerOnly);
    // No temporary file is left behind.
    size_t entries = 0;
    for ([[maybe_unused]] auto &entry : fs::directory_iterator(root)) entries++;
    EXPECT_EQ(entries, 7u);
}

}  // namespace
}  // namespace kiv::test
