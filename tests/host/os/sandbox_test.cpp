// Guest paths resolve inside the sandbox's root only: ".." above the root,
// an empty or too long path are refused.
#include "os/sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_files.h"

namespace kiv::test {
namespace {

namespace fs = std::filesystem;

struct Resolution {
    const char *cwd;
    const char *path;
    const char *expected;  // nullptr: refused
};

const Resolution kResolutions[] = {
    {"/", "a/b", "a/b"},       {"/", "/a/./b/", "a/b"},    {"/", "a//b", "a/b"}, {"/", ".", "."},
    {"/", "/", "."},           {"/", "a/..", "."},         {"/", "..", nullptr}, {"/", "/..", nullptr},
    {"/", "a/../..", nullptr}, {"/", "../a", nullptr},     {"/", "", nullptr},   {"/d", "x", "d/x"},
    {"/d", "../x", "x"},       {"/d", "../../x", nullptr}, {"/d", "/x", "x"},
};

TEST(SandboxPaths, ResolveInsideTheRootOnly) {
    TempDir root;
    fs::create_directory(root.path() / "d");
    for (const auto &c : kResolutions) {
        Sandbox sandbox;
        std::string error;
        ASSERT_TRUE(sandbox.open_root(root.path(), error)) << error;
        ASSERT_EQ(sandbox.change_directory(c.cwd), 0);
        auto resolved = sandbox.resolve(c.path);
        SCOPED_TRACE(std::string(c.cwd) + " + '" + c.path + "'");
        if (c.expected == nullptr) EXPECT_FALSE(resolved.has_value()) << *resolved;
        else EXPECT_EQ(resolved.value_or("(refused)"), c.expected);
    }
}

TEST(SandboxPaths, TooLongIsRefused) {
    TempDir root;
    Sandbox sandbox;
    std::string error;
    ASSERT_TRUE(sandbox.open_root(root.path(), error));
    EXPECT_FALSE(sandbox.resolve(std::string(5000, 'a')).has_value());
}

}  // namespace
}  // namespace kiv::test
