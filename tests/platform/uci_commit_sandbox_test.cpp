// Commits that cannot complete leave the package file as it was and no temporary file behind.
// Root ignores permission bits, so the failures come from a read-only and from a full file system.
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include "harness/sandbox.h"
#include "platform/uci_store.h"

namespace {

const char kPackage[] = "# provisioned by the factory\nconfig userinfo '1'\n\toption mode '1'\n\toption node '7'\n";

std::vector<std::string> Entries(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class UciCommitFailure : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, ZND_TestSh("mkdir -p " + dir_)); }
    void TearDown() override { ZND_UciSetConfDir(nullptr); }

    // A small file system of its own at dir_ holding the package.
    void MountWithPackage(const std::string &options)
    {
        ASSERT_EQ(0, ZND_TestSh("mount -t tmpfs -o " + options + " cfg " + dir_));
        ASSERT_TRUE(ZND_TestWriteFile(dir_ + "/userinfo", kPackage));
        ZND_UciSetConfDir(dir_.c_str());
    }

    void ExpectUntouched()
    {
        EXPECT_EQ(kPackage, ZND_TestReadFile(dir_ + "/userinfo"));
        std::string v;
        EXPECT_EQ(ZND_UCI_COMPLETE, ZND_UciGet("userinfo.1.mode", &v));
        EXPECT_EQ("1", v);
    }

    std::string dir_ = "/tmp/cfg";
};

TEST_F(UciCommitFailure, ReadOnlyFileSystem)
{
    MountWithPackage("size=1m");
    ASSERT_EQ(0, ZND_TestSh("mount -o remount,ro " + dir_));
    EXPECT_EQ(1, ZND_UciSet("userinfo.1.mode", "3"));
    ExpectUntouched();
    EXPECT_EQ(std::vector<std::string>{"userinfo"}, Entries(dir_));
}

TEST_F(UciCommitFailure, FileSystemFullHalfwayThroughTheWrite)
{
    MountWithPackage("size=64k");
    // Leave a few kilobytes: the temporary file is created, its write runs out of space.
    ASSERT_EQ(0, ZND_TestSh("dd if=/dev/zero of=" + dir_ + "/filler bs=4k count=12 2>/dev/null"));
    EXPECT_EQ(1, ZND_UciSet("userinfo.1.mode", std::string(200 * 1024, 'x').c_str()));
    ExpectUntouched();
    EXPECT_EQ((std::vector<std::string>{"filler", "userinfo"}), Entries(dir_));

    // With the space back the same set goes through.
    ASSERT_EQ(0, unlink((dir_ + "/filler").c_str()));
    EXPECT_EQ(0, ZND_UciSet("userinfo.1.mode", "3"));
    std::string v;
    EXPECT_EQ(ZND_UCI_COMPLETE, ZND_UciGet("userinfo.1.mode", &v));
    EXPECT_EQ("3", v);
    EXPECT_EQ(std::vector<std::string>{"userinfo"}, Entries(dir_));
}

} // namespace
