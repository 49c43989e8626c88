// The real mtdmac against an emulated factory partition: /dev/mtd2 is a regular file on a
// private /dev, and the preloaded mtd_emu library answers MEMERASE on it like the MTD driver
// and injects erase and write faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "harness/sandbox.h"

namespace {

const char kDevice[] = "/dev/mtd2";
const char kLog[] = "/tmp/mtdemu.log";
const char kSaved[] = "/var/run/mtdmac-mtd2-block";
const size_t kBlock = 65536;

struct Outcome {
    int code = -1;  // exit code, 128 + signal, or -1 when it had to be killed
    std::string out;
    std::string err;
};

// /dev is the machine's shared devtmpfs: the test covers it with a private tmpfs first.
bool PrivateDev()
{
    static bool done = false;
    if (done)
        return true;
    if (mount("mtdmac-test", "/dev", "tmpfs", MS_NOSUID, "mode=0755") != 0)
        return false;
    struct Node {
        const char *path;
        unsigned minor;
    };
    for (Node n : {Node{"/dev/null", 3}, Node{"/dev/zero", 5}, Node{"/dev/urandom", 9}})
        if (mknod(n.path, S_IFCHR | 0666, makedev(1, n.minor)) != 0)
            return false;
    done = true;
    return true;
}

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto &c : s)
        c = (char)gen();
    return s;
}

std::string WithMac(std::string image, const std::string &mac)
{
    image.replace(0, 6, mac);
    image.replace(0x1002, 6, mac);
    return image;
}

class Mtdmac : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(PrivateDev()) << strerror(errno);
        unlink(kLog);
        unlink(kSaved);
        unlink(kDevice);
        rmdir(kDevice);
        partition_ = RandomBytes(2 * kBlock, 5);
        ASSERT_TRUE(ZND_TestWriteFile(kDevice, partition_, 0600));
    }

    // Runs mtdmac with argv[1..] = args and extra environment entries "NAME=value".
    Outcome Run(const std::vector<std::string> &args, const std::vector<std::string> &env = {})
    {
        Outcome o;
        pid_t pid = fork();
        if (pid == 0) {
            std::string preload = "LD_PRELOAD=";
#ifdef MTDMAC_ASAN_RUNTIME
            // The sanitizer runtime has to be the first library of the process.
            preload += std::string(MTDMAC_ASAN_RUNTIME) + ":";
#endif
            preload += MTDEMU_LIB;
            putenv(strdup(preload.c_str()));
            putenv(strdup((std::string("MTDEMU_LOG=") + kLog).c_str()));
            for (const auto &e : env)
                putenv(strdup(e.c_str()));
            int out = open("/tmp/mtdmac.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open("/tmp/mtdmac.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char *> argv{const_cast<char *>(MTDMAC_BIN)};
            for (const auto &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(MTDMAC_BIN, argv.data());
            _exit(127);
        }
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                ADD_FAILURE() << "mtdmac did not finish";
                return o;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        o.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        o.out = ZND_TestReadFile("/tmp/mtdmac.out");
        o.err = ZND_TestReadFile("/tmp/mtdmac.err");
        return o;
    }

    std::string Device() const { return ZND_TestReadFile(kDevice); }
    std::string Log() const { return ZND_TestReadFile(kLog); }

    std::string partition_;
};

const std::string kMac("\x00\x11\x22\xAA\xBB\xCC", 6);

TEST_F(Mtdmac, WritesTheMacTwiceAndKeepsEveryOtherByte)
{
    Outcome o = Run({"001122AABBCC"});
    EXPECT_EQ(0, o.code) << o.err;
    EXPECT_EQ("", o.out);
    EXPECT_EQ("", o.err);
    std::string want = WithMac(partition_, kMac);
    std::string got = Device();
    ASSERT_EQ(want.size(), got.size());
    EXPECT_TRUE(want == got) << "first differing byte at " << std::mismatch(want.begin(), want.end(), got.begin()).first - want.begin();
    EXPECT_EQ("open rdwr sync\nread 65536 65536\nerase 0 65536\nwrite 65536 65536\n", Log());
    EXPECT_FALSE(ZND_TestFileExists(kSaved));
}

TEST_F(Mtdmac, UpperAndLowerCaseDigitsGiveTheSameBytes)
{
    ASSERT_EQ(0, Run({"a1b2c3d4e5f6"}).code);
    std::string lower = Device();
    ASSERT_TRUE(ZND_TestWriteFile(kDevice, partition_, 0600));
    ASSERT_EQ(0, Run({"A1B2C3D4E5F6"}).code);
    EXPECT_TRUE(lower == Device());
    EXPECT_TRUE(WithMac(partition_, std::string("\xA1\xB2\xC3\xD4\xE5\xF6", 6)) == lower);
}

TEST_F(Mtdmac, IgnoresArgumentsAfterTheMac)
{
    EXPECT_EQ(0, Run({"0011223344ff", "ffffffffffff", "--force"}).code);
    EXPECT_TRUE(WithMac(partition_, std::string("\x00\x11\x22\x33\x44\xFF", 6)) == Device());
}

TEST_F(Mtdmac, RefusesABadMacBeforeOpeningTheDevice)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {""},
        {"001122AABBC"},
        {"001122AABBCC0"},
        {"00:11:22:AA:BB:CC"},
        {"GG1122AABBCC"},
        {"001122AABBCZ"},
        {"0x1122AABBCC"},
        {" 01122AABBCC"},
        {"+01122AABBCC"},
        {"-01122AABBCC"},
        {"001122 ABBCC"},
    };
    for (const auto &args : bad) {
        Outcome o = Run(args);
        std::string shown = args.empty() ? "(none)" : "'" + args[0] + "'";
        EXPECT_EQ(1, o.code) << shown;
        EXPECT_EQ("input effective MAC\n", o.err) << shown;
        EXPECT_EQ("", o.out) << shown;
        EXPECT_EQ("", Log()) << shown << ": the device must not even be opened";
    }
    EXPECT_TRUE(partition_ == Device());
}

TEST_F(Mtdmac, MissingDeviceExitsTwo)
{
    ASSERT_EQ(0, unlink(kDevice));
    Outcome o = Run({"001122AABBCC"});
    EXPECT_EQ(2, o.code);
    EXPECT_EQ("failed to open mtd2\n", o.err);
    ASSERT_EQ(0, mkdir(kDevice, 0755));
    o = Run({"001122AABBCC"});
    EXPECT_EQ(2, o.code);
    EXPECT_EQ("failed to open mtd2\n", o.err);
    // A bad MAC is still reported as such without a device.
    EXPECT_EQ(1, Run({"nonsense"}).code);
}

TEST_F(Mtdmac, ShortPartitionExitsThreeBeforeAnyErase)
{
    for (size_t size : {kBlock - 1, kBlock / 2, size_t(0)}) {
        std::string small = partition_.substr(0, size);
        ASSERT_TRUE(ZND_TestWriteFile(kDevice, small, 0600));
        unlink(kLog);
        Outcome o = Run({"001122AABBCC"});
        EXPECT_EQ(3, o.code) << size;
        EXPECT_EQ("failed to read 65536 bytes from mtd2\n", o.err) << size;
        EXPECT_EQ("open rdwr sync\nread 65536 " + std::to_string(size) + "\n", Log()) << size;
        EXPECT_TRUE(small == Device()) << size;
    }
}

TEST_F(Mtdmac, FailedEraseExitsFourWithTheDeviceUnchanged)
{
    Outcome o = Run({"001122AABBCC"}, {"MTDEMU_ERASE=fail"});
    EXPECT_EQ(4, o.code);
    EXPECT_EQ("failed to erase mtd2\n", o.err);
    EXPECT_TRUE(partition_ == Device());
    EXPECT_EQ(std::string::npos, Log().find("write"));

    // A device whose erase blocks are larger than 64 KiB refuses the request.
    o = Run({"001122AABBCC"}, {"MTDEMU_ERASE_SIZE=131072"});
    EXPECT_EQ(4, o.code);
    EXPECT_EQ("failed to erase mtd2\n", o.err);
    EXPECT_TRUE(partition_ == Device());
}

TEST_F(Mtdmac, ShortAndInterruptedWritesEndWithTheWholeBlock)
{
    for (const char *mode : {"short-once", "short-always", "eintr-once"}) {
        ASSERT_TRUE(ZND_TestWriteFile(kDevice, partition_, 0600));
        unlink(kLog);
        Outcome o = Run({"001122AABBCC"}, {std::string("MTDEMU_WRITE=") + mode});
        EXPECT_EQ(0, o.code) << mode << ": " << o.err;
        EXPECT_EQ("", o.err) << mode;
        EXPECT_TRUE(WithMac(partition_, kMac) == Device()) << mode << ": the block's tail must be written too";
        std::string log = Log();
        EXPECT_GT(std::count(log.begin(), log.end(), '\n'), 4) << mode << ": expected more than one write:\n" << log;
    }
}

TEST_F(Mtdmac, FailedWriteExitsFive)
{
    for (const char *mode : {"fail", "short-then-fail", "zero"}) {
        ASSERT_TRUE(ZND_TestWriteFile(kDevice, partition_, 0600));
        unlink(kSaved);
        Outcome o = Run({"001122AABBCC"}, {std::string("MTDEMU_WRITE=") + mode});
        EXPECT_EQ(5, o.code) << mode;
        EXPECT_EQ("failed to write mtd2\nthe factory block could not be restored; it is saved in "
                  "/var/run/mtdmac-mtd2-block\n", o.err) << mode;
        EXPECT_TRUE(partition_.substr(0, kBlock) == ZND_TestReadFile(kSaved)) << mode;
        EXPECT_EQ("", o.out) << mode;
        // The driver left the block erased (beyond what was written); the next block is intact.
        std::string got = Device();
        EXPECT_EQ(std::string(kBlock - 1000, '\xFF'), got.substr(1000, kBlock - 1000)) << mode;
        EXPECT_TRUE(partition_.substr(kBlock) == got.substr(kBlock)) << mode;
    }
    // A second run must not overwrite that copy with the broken block: it stops before the erase.
    unlink(kLog);
    Outcome o = Run({"001122AABBCC"});
    EXPECT_EQ(6, o.code);
    EXPECT_EQ("failed to save the factory block to /var/run/mtdmac-mtd2-block: File exists\n", o.err);
    EXPECT_TRUE(partition_.substr(0, kBlock) == ZND_TestReadFile(kSaved));
    EXPECT_EQ("open rdwr sync\nread 65536 65536\n", Log());
}

// The block holds the board's calibration data: a failed write must not leave it erased when the
// saved copy can still be written back.
TEST_F(Mtdmac, FailedWritePutsTheSavedBlockBack)
{
    Outcome o = Run({"001122AABBCC"}, {"MTDEMU_WRITE=fail-once"});
    EXPECT_EQ(5, o.code);
    EXPECT_EQ("failed to write mtd2\nthe factory block was restored as it was\n", o.err);
    std::string got = Device();
    ASSERT_EQ(partition_.size(), got.size());
    EXPECT_TRUE(partition_ == got) << "first differing byte at "
                                   << std::mismatch(partition_.begin(), partition_.end(), got.begin()).first - partition_.begin();
    EXPECT_EQ("open rdwr sync\nread 65536 65536\nerase 0 65536\nwrite 65536 -1\nerase 0 65536\nwrite 65536 65536\nread 65536 65536\n", Log());
}

} // namespace
