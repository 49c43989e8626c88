// The host configuration store on package files in a temporary configuration directory.
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include "harness/sandbox.h"
#include "platform/host/uci_file.h"
#include "platform/uci_store.h"

namespace {

const char kNetwork[] =
    "# keep the LAN on the switch\n"
    "config interface 'lan'\n"
    "\toption ifname 'eth0'\n"
    "\toption proto 'static'\n"
    "\tlist dns '1.1.1.1'\n"
    "\tlist dns '9.9.9.9'\n"
    "\n"
    "config interface 'vpn'\n"
    "\toption proto 'pptp'\n"
    "\toption password \"old pass\"\n"
    "\n"
    "config switch_vlan\n"
    "\toption vlan '1'\n"
    "\tlist ports '0 1 2'\n";

class UciStoreTest : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/uci_store_test.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir_ = tmpl;
        ZND_UciSetConfDir(dir_.c_str());
        ASSERT_TRUE(ZND_TestWriteFile(Path("network"), kNetwork));
    }
    void TearDown() override
    {
        ZND_UciSetConfDir(nullptr);
        std::filesystem::remove_all(dir_);
    }

    std::string Path(const std::string &pkg) const { return dir_ + "/" + pkg; }

    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(dir_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::string Get(const char *addr)
    {
        std::string v;
        int rc = ZND_UciGet(addr, &v);
        return rc == ZND_UCI_COMPLETE ? v : "<" + std::to_string(rc) + ">";
    }

    UciPackage Model(const std::string &pkg) const
    {
        UciPackage model;
        std::string error;
        EXPECT_TRUE(UciParse(ZND_TestReadFile(Path(pkg)), &model, &error)) << error;
        return model;
    }

    std::string dir_;
};

TEST_F(UciStoreTest, GetTellsCompleteIncompleteAndFailedLookups)
{
    std::string v = "untouched";
    EXPECT_EQ(ZND_UCI_COMPLETE, ZND_UciGet("network.lan.ifname", &v));
    EXPECT_EQ("eth0", v);
    EXPECT_EQ("old pass", Get("network.vpn.password"));

    v = "untouched";
    EXPECT_EQ(ZND_UCI_INCOMPLETE, ZND_UciGet("network.lan.mtu", &v));      // no such option
    EXPECT_EQ(ZND_UCI_INCOMPLETE, ZND_UciGet("network.wan.ifname", &v));   // no such section
    EXPECT_EQ(ZND_UCI_INCOMPLETE, ZND_UciGet("network.lan.dns", &v));      // a list has no text value
    EXPECT_EQ("untouched", v);

    EXPECT_EQ(ZND_UCI_LOOKUP_FAILED, ZND_UciGet("wireless.wifi.ssid", &v));   // no such package
    const char *malformed[] = {"", "network", "network.lan", "network.lan.ifname.x", ".lan.ifname",
                               "network..ifname", "network.lan.", "network.@interface[0].ifname",
                               "net-work.lan.ifname", "../network.lan.ifname", "network.lan.ifname=x",
                               "network.lan.if name"};
    for (const char *addr : malformed)
        EXPECT_EQ(ZND_UCI_LOOKUP_FAILED, ZND_UciGet(addr, &v)) << addr;
    EXPECT_EQ(ZND_UCI_LOOKUP_FAILED, ZND_UciGet(nullptr, &v));
    EXPECT_EQ("untouched", v);
}

TEST_F(UciStoreTest, UnloadablePackagesFailTheLookup)
{
    ASSERT_TRUE(ZND_TestWriteFile(Path("broken"), "config t 's'\n\toption a 'unterminated\n"));
    ASSERT_EQ(0, mkdir(Path("adir").c_str(), 0755));
    for (const char *addr : {"broken.s.a", "adir.s.a"}) {
        EXPECT_EQ(ZND_UCI_LOOKUP_FAILED, ZND_UciGet(addr, nullptr)) << addr;
        EXPECT_EQ(ZND_UCI_LOOKUP_FAILED, ZND_UciSet(addr, "v")) << addr;
    }
    EXPECT_EQ("config t 's'\n\toption a 'unterminated\n", ZND_TestReadFile(Path("broken")));
    EXPECT_EQ(ZND_UCI_LOOKUP_FAILED, ZND_UciSet("nopkg.s.a", "v"));
    EXPECT_FALSE(ZND_TestFileExists(Path("nopkg")));
}

TEST_F(UciStoreTest, SetCommitsAndEverythingElseSurvives)
{
    UciPackage before = Model("network");
    ASSERT_EQ(0, ZND_UciSet("network.vpn.password", "new pass"));

    // A fresh read sees the value, and the file is the canonical text of the package.
    EXPECT_EQ("new pass", Get("network.vpn.password"));
    EXPECT_EQ("\n"
              "config interface 'lan'\n"
              "\toption ifname 'eth0'\n"
              "\toption proto 'static'\n"
              "\tlist dns '1.1.1.1'\n"
              "\tlist dns '9.9.9.9'\n"
              "\n"
              "config interface 'vpn'\n"
              "\toption proto 'pptp'\n"
              "\toption password 'new pass'\n"
              "\n"
              "config switch_vlan\n"
              "\toption vlan '1'\n"
              "\tlist ports '0 1 2'\n"
              "\n",
              ZND_TestReadFile(Path("network")));

    // Only the one value differs from the package as it was.
    UciPackage after = Model("network");
    UciFindOption(UciFindSection(&before, "vpn"), "password")->values[0] = "new pass";
    EXPECT_EQ(UciRender(before), UciRender(after));
}

TEST_F(UciStoreTest, SetCreatesAnOptionAtTheEndOfItsSectionAndReplacesLists)
{
    ASSERT_EQ(0, ZND_UciSet("network.vpn.server", "192.0.2.1"));
    ASSERT_EQ(0, ZND_UciSet("network.lan.dns", "8.8.8.8"));
    UciPackage pkg = Model("network");
    UciSection *vpn = UciFindSection(&pkg, "vpn");
    ASSERT_EQ(3u, vpn->options.size());
    EXPECT_EQ("server", vpn->options[2].name);
    EXPECT_EQ("192.0.2.1", Get("network.vpn.server"));

    UciSection *lan = UciFindSection(&pkg, "lan");
    ASSERT_EQ(3u, lan->options.size());
    EXPECT_EQ("dns", lan->options[2].name);   // in place, now a plain option
    EXPECT_FALSE(lan->options[2].isList);
    EXPECT_EQ("8.8.8.8", Get("network.lan.dns"));
}

TEST_F(UciStoreTest, AwkwardValuesReadBackAsWritten)
{
    const char *values[] = {"", "it's", "'\\''", "a \"b\" \\c", "#hash", "two\nlines", " spaced ", "\t"};
    for (const char *value : values) {
        ASSERT_EQ(0, ZND_UciSet("network.vpn.password", value)) << value;
        EXPECT_EQ(value, Get("network.vpn.password"));
    }
    EXPECT_EQ("pptp", Get("network.vpn.proto"));
}

TEST_F(UciStoreTest, MissingSectionWritesNothing)
{
    struct stat st_before, st_after;
    ASSERT_EQ(0, stat(Path("network").c_str(), &st_before));
    EXPECT_EQ(1, ZND_UciSet("network.wan.ifname", "eth1"));
    EXPECT_EQ(1, ZND_UciSet("network.vpn.password", nullptr));
    ASSERT_EQ(0, stat(Path("network").c_str(), &st_after));
    EXPECT_EQ(kNetwork, ZND_TestReadFile(Path("network")));   // comments and all
    EXPECT_EQ(st_before.st_ino, st_after.st_ino);
    EXPECT_EQ((std::vector<std::string>{"network"}), Entries());
}

TEST_F(UciStoreTest, CommitReplacesTheFileWholeAndLeavesNoTemporaryFile)
{
    // A reader that opened the package before the commit keeps reading the complete old text:
    // the new text went to another file that was renamed over it, not into this one.
    int fd = open(Path("network").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(ZND_TestWriteFile(Path("openvpn"), "config openvpn 'zunaro'\n\toption dev 'tun0'\n"));
    ASSERT_EQ(0, ZND_UciSet("network.vpn.password", std::string(10000, 'p').c_str()));
    ASSERT_EQ(0, ZND_UciSet("openvpn.zunaro.remote", "192.0.2.1 1194"));

    std::string old_text(sizeof kNetwork + 100, '\0');
    ssize_t n = pread(fd, &old_text[0], old_text.size(), 0);
    close(fd);
    ASSERT_GE(n, 0);
    old_text.resize((size_t)n);
    EXPECT_EQ(kNetwork, old_text);

    EXPECT_EQ(std::string(10000, 'p'), Get("network.vpn.password"));
    EXPECT_EQ("tun0", Get("openvpn.zunaro.dev"));
    EXPECT_EQ((std::vector<std::string>{"network", "openvpn"}), Entries());
}

TEST_F(UciStoreTest, CommitKeepsTheFileModeAndSymbolicLinks)
{
    ASSERT_TRUE(ZND_TestWriteFile(Path("network"), kNetwork, 0600));
    ASSERT_EQ(0, ZND_UciSet("network.vpn.password", "secret"));
    struct stat st;
    ASSERT_EQ(0, stat(Path("network").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);

    ASSERT_TRUE(ZND_TestWriteFile(Path("real_wireless"), "config wifi-iface 'wifi'\n\toption ssid 'a'\n", 0640));
    ASSERT_EQ(0, symlink("real_wireless", Path("wireless").c_str()));
    ASSERT_EQ(0, ZND_UciSet("wireless.wifi.ssid", "b"));
    ASSERT_EQ(0, lstat(Path("wireless").c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(0, stat(Path("real_wireless").c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ("b", Get("wireless.wifi.ssid"));
    EXPECT_EQ((std::vector<std::string>{"network", "real_wireless", "wireless"}), Entries());
}

TEST_F(UciStoreTest, AnonymousSectionsAreNotAddressableButSurviveCommits)
{
    EXPECT_EQ(ZND_UCI_INCOMPLETE, ZND_UciGet("network.switch_vlan.vlan", nullptr));
    EXPECT_EQ(1, ZND_UciSet("network.switch_vlan.vlan", "2"));
    ASSERT_EQ(0, ZND_UciSet("network.lan.proto", "dhcp"));
    UciPackage pkg = Model("network");
    ASSERT_EQ(3u, pkg.sections.size());
    EXPECT_EQ("", pkg.sections[2].name);
    EXPECT_EQ("1", pkg.sections[2].options[0].values[0]);
    EXPECT_EQ(std::vector<std::string>{"0 1 2"}, pkg.sections[2].options[1].values);
}

TEST(UciConfDir, DefaultsToEtcConfig)
{
    ZND_UciSetConfDir("/somewhere");
    EXPECT_STREQ("/somewhere", ZND_UciConfDir());
    ZND_UciSetConfDir(nullptr);
    EXPECT_STREQ("/etc/config", ZND_UciConfDir());
    ZND_UciSetConfDir("");
    EXPECT_STREQ("/etc/config", ZND_UciConfDir());
}

} // namespace
