// check_image against images built like the firmware's, their corruptions and awkward files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness/sandbox.h"
#include "image_builder.h"
#include "image_dir.h"
#include "imgvet.h"

namespace {

class ImgvetCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir_.path().empty());
        ImageFields f;
        f.payload = RandomBytes(70000, 3);
        valid_ = BuildImage(f);
    }
    // Writes bytes and returns check_image's answer for them.
    int Check(const std::string &bytes, const std::string &name = "image.bin")
    {
        return check_image(dir_.Put(name, bytes).c_str());
    }
    ImageDir dir_;
    std::string valid_;
};

TEST_F(ImgvetCheck, AcceptsImagesOfEverySize)
{
    for (size_t n : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(4096), size_t(1u << 20) + 5}) {
        ImageFields f;
        f.payload = RandomBytes(n, (uint32_t)n);
        EXPECT_EQ(1, Check(BuildImage(f))) << n << " payload bytes";
    }
    ImageFields full_name;
    full_name.name = std::string(32, 'N');
    full_name.payload = "kernel";
    EXPECT_EQ(1, Check(BuildImage(full_name)));
}

TEST_F(ImgvetCheck, AcceptsBytesAfterTheData)
{
    EXPECT_EQ(1, Check(valid_ + std::string(65536, '\xFF')));
    EXPECT_EQ(1, Check(valid_ + RandomBytes(1, 9)));
}

TEST_F(ImgvetCheck, RejectsFilesShorterThanAHeader)
{
    ImageFields empty;
    std::string header_only = BuildImage(empty);
    ASSERT_EQ(64u, header_only.size());
    ASSERT_EQ(1, Check(header_only));
    // The header's last byte is zero, like the page beyond the end of a 63-byte mapping: the
    // header CRC would still match if the check looked past the file.
    ASSERT_EQ('\0', header_only[63]);
    EXPECT_EQ(0, Check(header_only.substr(0, 63)));
    for (size_t n : {size_t(0), size_t(1), size_t(4), size_t(32)})
        EXPECT_EQ(0, Check(header_only.substr(0, n))) << n;
}

TEST_F(ImgvetCheck, RejectsDataLargerThanTheFile)
{
    EXPECT_EQ(0, Check(valid_.substr(0, valid_.size() - 1)));

    std::string one_more = valid_;
    PutBe32(&one_more, 12, GetBe32(valid_, 12) + 1);
    ResealHeader(&one_more);
    EXPECT_EQ(0, Check(one_more));

    std::string huge = valid_;
    PutBe32(&huge, 12, 0xFFFFFFFFu);
    ResealHeader(&huge);
    EXPECT_EQ(0, Check(huge));
}

TEST_F(ImgvetCheck, RejectsEveryCorruptedField)
{
    ASSERT_EQ(1, Check(valid_));
    struct Flip {
        const char *what;
        size_t offset;
    };
    const size_t last = valid_.size() - 1;
    for (Flip flip : {Flip{"magic", 0}, Flip{"header crc", 5}, Flip{"time stamp", 9}, Flip{"data size", 15},
                      Flip{"load address", 16}, Flip{"data crc", 27}, Flip{"arch", 29}, Flip{"name", 33},
                      Flip{"name end", 63}, Flip{"first data byte", 64}, Flip{"middle data byte", 35000},
                      Flip{"last data byte", last}}) {
        std::string bad = valid_;
        bad[flip.offset] = (char)(bad[flip.offset] ^ 0x01);
        EXPECT_EQ(0, Check(bad)) << flip.what;
    }
    std::string wrong_magic = valid_;
    PutBe32(&wrong_magic, 0, 0x56190527);
    ResealHeader(&wrong_magic);
    EXPECT_EQ(0, Check(wrong_magic));
}

TEST_F(ImgvetCheck, NeverChangesTheFile)
{
    std::string corrupt = valid_;
    corrupt[100] ^= 0x40;
    for (const std::string &bytes : {valid_, corrupt, valid_.substr(0, 40)}) {
        std::string path = dir_.Put("image.bin", bytes);
        // An old time stamp makes any write show, however coarse the clock.
        struct timespec old[2] = {{978307200, 0}, {978307200, 0}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), old, 0));
        struct stat before;
        ASSERT_EQ(0, stat(path.c_str(), &before));
        check_image(path.c_str());
        struct stat after;
        ASSERT_EQ(0, stat(path.c_str(), &after));
        EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
        EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
        EXPECT_EQ(before.st_ctim.tv_sec, after.st_ctim.tv_sec);
        EXPECT_EQ(before.st_ctim.tv_nsec, after.st_ctim.tv_nsec);
        EXPECT_EQ(bytes, ZND_TestReadFile(path));
    }
}

TEST_F(ImgvetCheck, RejectsMissingEmptyAndUnusablePaths)
{
    EXPECT_EQ(0, check_image(nullptr));
    EXPECT_EQ(0, check_image(""));
    EXPECT_EQ(0, check_image((dir_.path() + "/missing.bin").c_str()));
    EXPECT_EQ(0, check_image(dir_.path().c_str()));
    EXPECT_EQ(0, check_image("/dev/null"));
}

// Runs fn in a child process and returns its exit code.
template <typename Fn> int InChild(Fn fn)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(fn());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST_F(ImgvetCheck, RejectsAFileTheCallerCannotWrite)
{
    std::string read_only = dir_.Put("ro.bin", valid_, 0444);
    std::string writable = dir_.Put("rw.bin", valid_, 0666);
    // Root writes anything, so the check runs as an unprivileged user.
    int rc = InChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 99;
        return check_image(read_only.c_str()) * 10 + check_image(writable.c_str());
    });
    EXPECT_EQ(1, rc) << "read-only rejected (tens digit 0), writable accepted (ones digit 1)";
}

TEST_F(ImgvetCheck, AcceptsWithStandardInputClosed)
{
    std::string path = dir_.Put("image.bin", valid_);
    // The image file then gets descriptor 0, which is as good as any other.
    int rc = InChild([&] {
        close(0);
        return check_image(path.c_str()) + 10 * (fcntl(0, F_GETFD) != -1);
    });
    EXPECT_EQ(1, rc) << "accepted, and descriptor 0 released again";
}

// The router's web server runs the check in its own process: a file cut short while the CRC runs
// (another upload replacing it) must give a plain "no", never a fault that kills the caller.
TEST_F(ImgvetCheck, AFileCutShortDuringTheCheckIsRefusedAndTheCallerLives)
{
    ImageFields f;
    f.payload = RandomBytes(8u << 20, 11);
    std::string image = BuildImage(f);
    std::string path = dir_.Put("shrinking.bin", image);
    pid_t pid = fork();
    if (pid == 0) {
        // Enough checks to overlap many cuts, and at least one that saw the file cut.
        int checks = 0, refused = 0;
        while ((checks < 200 || refused == 0) && checks < 100000) {
            refused += check_image(path.c_str()) == 0;
            checks++;
        }
        _exit(refused > 0 ? 0 : 3);
    }
    ASSERT_GT(pid, 0);
    // Cut the file to its header and grow it back (with zeros) until the checker is done.
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        ASSERT_EQ(0, ftruncate(fd, 100));
        ASSERT_EQ(0, ftruncate(fd, (off_t)image.size()));
    }
    close(fd);
    ASSERT_TRUE(WIFEXITED(status)) << "the checking process died from signal " << WTERMSIG(status);
    EXPECT_EQ(0, WEXITSTATUS(status)) << "no check saw the shortened file";
}

} // namespace
