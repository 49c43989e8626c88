// The router packages without an OpenWrt SDK: the web interface's ACL and menu entry as rpcd and
// LuCI read them, each Makefile against its one list of installed files, and the daemon's paths
// against what is installed or made at run time. The init script runs under procd in
// tests/e2e/procd_test.cpp; the programs' shared libraries are checked against DEPENDS by
// needed-check (scripts/cross --dynamic).
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>
#include "harness/sandbox.h"
#include "platform/uci_store.h"

namespace {

const std::string kDir = ZND_PACKAGE_DIR;
const std::string kLuciDir = ZND_LUCI_APP_DIR;

struct Installed {
    std::string package, mode, source, dest;
    bool operator<(const Installed &o) const { return dest < o.dest; }
};

std::vector<Installed> FilesList(const std::string &dir = kDir)
{
    std::vector<Installed> out;
    std::istringstream in(ZND_TestReadFile(dir + "/files.list"));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        Installed f;
        std::string extra;
        fields >> f.package >> f.mode >> f.source >> f.dest;
        EXPECT_FALSE(f.dest.empty() || (fields >> extra)) << "four fields: " << line;
        out.push_back(f);
    }
    return out;
}

// The names of a JSON object's members, in order.
std::vector<std::string> Keys(json_object *obj)
{
    std::vector<std::string> out;
    if (json_object_get_type(obj) != json_type_object)
        return out;
    json_object_object_foreach(obj, key, val)
    {
        (void)val;
        out.push_back(key);
    }
    return out;
}

std::vector<std::string> Strings(json_object *arr)
{
    std::vector<std::string> out;
    if (json_object_get_type(arr) != json_type_array)
        return {"(not an array)"};
    for (size_t i = 0; i < json_object_array_length(arr); i++)
        out.push_back(json_object_get_string(json_object_array_get_idx(arr, i)));
    return out;
}

json_object *Get(json_object *obj, const char *key)
{
    json_object *v = nullptr;
    return json_object_object_get_ex(obj, key, &v) ? v : nullptr;
}

// The methods of the web interface's rpcd object, in the order its ucode file defines them.
std::vector<std::string> PluginMethods()
{
    std::vector<std::string> out;
    std::istringstream in(ZND_TestReadFile(kLuciDir + "/root/usr/share/rpcd/ucode/luci.zunaro"));
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line == "const methods = {")
            inside = true;
        else if (line == "};")
            inside = false;
        else if (inside && line.size() > 4 && line[0] == '\t' && line[1] != '\t' && line.compare(line.size() - 3, 3, ": {") == 0)
            out.push_back(line.substr(1, line.size() - 4));
    }
    return out;
}

// Reading is granted apart from acting, on the web interface's own object only: no uci, no files,
// not the daemon's object (its replies carry the password); every method of the object is granted
// under one of the two.
TEST(Package, WebAclGrantsReadingAndActingApartOnTheAppObjectOnly)
{
    json_object *acl = json_object_from_file((kLuciDir + "/root/usr/share/rpcd/acl.d/luci-app-zunaro.json").c_str());
    ASSERT_NE(nullptr, acl) << "does not parse";
    ASSERT_EQ(std::vector<std::string>{"luci-app-zunaro"}, Keys(acl));
    json_object *group = Get(acl, "luci-app-zunaro");
    EXPECT_EQ((std::vector<std::string>{"description", "read", "write"}), Keys(group));
    std::vector<std::string> granted;
    for (const char *perm : {"read", "write"}) {
        json_object *p = Get(group, perm);
        EXPECT_EQ(std::vector<std::string>{"ubus"}, Keys(p)) << perm;
        EXPECT_EQ(std::vector<std::string>{"luci.zunaro"}, Keys(Get(p, "ubus"))) << perm;
        for (const auto &m : Strings(Get(Get(p, "ubus"), "luci.zunaro")))
            granted.push_back(m);
    }
    EXPECT_EQ((std::vector<std::string>{"status", "nodes", "keylog"}),
              Strings(Get(Get(Get(group, "read"), "ubus"), "luci.zunaro")));
    EXPECT_EQ((std::vector<std::string>{"login", "logout", "start", "stop"}),
              Strings(Get(Get(Get(group, "write"), "ubus"), "luci.zunaro")));
    EXPECT_EQ(PluginMethods(), granted) << "the object's methods and the ACL differ";
    json_object_put(acl);
}

// The menu entry puts the view under Services for the holders of the app's ACL, and the view it
// names is installed.
TEST(Package, WebMenuEntryOpensTheInstalledViewUnderServices)
{
    json_object *menu = json_object_from_file((kLuciDir + "/root/usr/share/luci/menu.d/luci-app-zunaro.json").c_str());
    ASSERT_NE(nullptr, menu) << "does not parse";
    ASSERT_EQ(std::vector<std::string>{"admin/services/zunaro"}, Keys(menu));
    json_object *entry = Get(menu, "admin/services/zunaro");
    json_object *action = Get(entry, "action");
    ASSERT_NE(nullptr, action);
    EXPECT_STREQ("view", json_object_get_string(Get(action, "type")));
    std::string view = std::string("/www/luci-static/resources/view/") + json_object_get_string(Get(action, "path")) + ".js";
    bool listed = false;
    for (const auto &f : FilesList(kLuciDir))
        listed = listed || f.dest == view;
    EXPECT_TRUE(listed) << view << " is not installed";
    EXPECT_EQ(std::vector<std::string>{"luci-app-zunaro"}, Strings(Get(Get(entry, "depends"), "acl")));
    EXPECT_NE(nullptr, Get(entry, "title"));
    json_object_put(menu);
}

// A package Makefile's install steps against its files.list.
void CheckMakefileAgainstFilesList(const std::string &dir)
{
    SCOPED_TRACE(dir);
    const std::map<std::string, std::string> modes = {
        {"$(INSTALL_BIN)", "0755"}, {"$(INSTALL_DATA)", "0644"}, {"$(INSTALL_CONF)", "0600"}};
    const std::string section = "define Package/", install = "/install", built = "$(PKG_INSTALL_DIR)";
    std::set<Installed> made;
    std::string package;
    std::istringstream in(ZND_TestReadFile(dir + "/Makefile"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string step, src, dest, extra;
        words >> step >> src >> dest;
        if (line.compare(0, section.size(), section) == 0 && line.size() > section.size() + install.size() &&
            line.compare(line.size() - install.size(), install.size(), install) == 0) {
            package = line.substr(section.size(), line.size() - section.size() - install.size());
        } else if (line == "endef") {
            package.clear();
        } else if (!package.empty() && modes.count(step)) {
            EXPECT_FALSE(words >> extra) << "one file per step: " << line;
            ASSERT_EQ(0u, dest.compare(0, 4, "$(1)")) << line;
            dest = dest.substr(4);
            if (src.compare(0, built.size(), built) == 0) {
                EXPECT_EQ(built + dest, src) << "taken from where the install rules put it";
                src = "cmake";
            } else if (src.compare(0, 2, "./") == 0) {
                src = src.substr(2);
            }
            made.insert({package, modes.at(step), src, dest});
        } else if (line.find("$(INSTALL_") != std::string::npos && step != "$(INSTALL_DIR)") {
            ADD_FAILURE() << "an install step of another form: " << line;
        }
    }
    std::vector<Installed> listed = FilesList(dir);
    ASSERT_FALSE(listed.empty());
    std::set<Installed> want(listed.begin(), listed.end());
    EXPECT_EQ(listed.size(), want.size()) << "a destination listed twice";
    ASSERT_EQ(want.size(), made.size());
    for (auto a = want.begin(), b = made.begin(); a != want.end(); ++a, ++b) {
        EXPECT_EQ(a->dest, b->dest);
        EXPECT_EQ(a->package, b->package) << a->dest;
        EXPECT_EQ(a->mode, b->mode) << a->dest;
        EXPECT_EQ(a->source, b->source) << a->dest;
        if (a->source != "cmake") {
            EXPECT_TRUE(ZND_TestFileExists(dir + "/" + a->source)) << a->source;
        }
    }
}

TEST(Package, MakefilesInstallExactlyTheListedFiles)
{
    CheckMakefileAgainstFilesList(kDir);
    CheckMakefileAgainstFilesList(kLuciDir);
    // The configuration the user owns survives an upgrade.
    std::string makefile = ZND_TestReadFile(kDir + "/Makefile");
    EXPECT_NE(std::string::npos, makefile.find("define Package/zunaro/conffiles\n/etc/config/userinfo\n"));
}

// The build's install rules put every file that the list takes from them where the list says
// (with the router's prefix; the Lua module directory is this build's).
TEST(Package, InstallRulesPutTheBuiltFilesWhereTheListSays)
{
    char tmpl[] = "/tmp/zunaro-install-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    std::string root = tmpl;
    ASSERT_EQ(0, ZND_TestSh("DESTDIR=" + ZND_TestQuote(root) + " cmake --install " + ZND_TestQuote(ZND_BUILD_DIR) +
                            " --prefix /usr >/dev/null"));
    const std::string lua_dir = "/usr/lib/lua/";
    int built = 0;
    for (const auto &f : FilesList()) {
        if (f.source != "cmake")
            continue;
        built++;
        std::string dest = f.dest;
        if (dest.compare(0, lua_dir.size(), lua_dir) == 0)
            dest = std::string(ZND_IMGVET_INSTALL_DIR) + "/" + dest.substr(lua_dir.size());
        EXPECT_EQ(0, ZND_TestSh("test -f " + ZND_TestQuote(root + dest))) << f.dest;
    }
    EXPECT_EQ(4, built);
    ZND_TestSh("rm -rf " + ZND_TestQuote(root));
}

// Every path of the daemon is installed by the package, made at run time on a file system that
// the router mounts empty at boot, or the router's own (a device, a kernel file, another package's
// service); nothing else may be named.
TEST(Package, EveryPathOfTheDaemonIsInstalledOrMadeAtRunTime)
{
    std::set<std::string> installed;
    for (const auto &f : FilesList())
        installed.insert(f.dest);
    const std::set<std::string> router_own = {
        "/sys/class/leds/state_b/brightness", "/sys/class/leds/state_g/brightness", "/dev/mtd2",
        "/etc/init.d/openvpn", "/etc/init.d/ipsec", "/etc/init.d/led",
        // written by the daemon for the tunnel services, into their packages' directories
        "/etc/openvpn/userpass.txt", "/etc/ipsec.conf", "/etc/ipsec.secrets"};
    const std::string define = "#define ZND_PATH_";
    std::istringstream in(ZND_TestReadFile(ZND_PATHS_HEADER));
    int paths = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, define.size(), define) != 0)
            continue;
        paths++;
        std::istringstream words(line.substr(8));
        std::string name, quoted;
        words >> name >> quoted;
        ASSERT_TRUE(quoted.size() > 2 && quoted.front() == '"' && quoted.back() == '"') << line;
        std::string path = quoted.substr(1, quoted.size() - 2);
        bool run_time = path.compare(0, 5, "/tmp/") == 0 || path.compare(0, 9, "/var/run/") == 0;
        EXPECT_TRUE(installed.count(path) || run_time || router_own.count(path))
            << name << " " << path << " is neither installed nor made at run time";
        EXPECT_FALSE(installed.count(path) && run_time) << path;
    }
    EXPECT_GE(paths, 10);
    // The daemon's configuration, read at start.
    EXPECT_TRUE(installed.count("/etc/config/userinfo"));
}

// The first-boot script names the daemon's routing tables for ip, once, whatever was there.
TEST(Package, FirstBootNamesTheRoutingTablesOnce)
{
    char tmpl[] = "/tmp/zunaro-root-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    std::string root = tmpl;
    std::string run = "IPKG_INSTROOT=" + ZND_TestQuote(root) + " /bin/sh " + ZND_TestQuote(kDir + "/files/zunaro.defaults");
    const std::string tables = root + "/etc/iproute2/rt_tables";

    ASSERT_EQ(0, ZND_TestSh(run)) << "no directory yet";
    EXPECT_EQ("252\tlogin\n251\ttraffic\n", ZND_TestReadFile(tables));

    const std::string stock = "255\tlocal\n254\tmain\n  251   traffic # ours already\n0\tunspec\n";
    ASSERT_TRUE(ZND_TestWriteFile(tables, stock));
    ASSERT_EQ(0, ZND_TestSh(run));
    ASSERT_EQ(0, ZND_TestSh(run));
    EXPECT_EQ(stock + "252\tlogin\n", ZND_TestReadFile(tables));
    ZND_TestSh("rm -rf " + ZND_TestQuote(root));
}

// The shipped userinfo lets a client record the state, and holds no value of its own: no
// account, no saved state.
TEST(Package, ShippedUserinfoTakesTheRecordedState)
{
    char tmpl[] = "/tmp/zunaro-pkg-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    std::string dir = tmpl;
    ASSERT_TRUE(ZND_TestWriteFile(dir + "/userinfo", ZND_TestReadFile(kDir + "/files/userinfo.config")));
    ZND_UciSetConfDir(dir.c_str());
    std::string value;
    for (const char *option : {"historyname", "historypass", "mode", "node", "nodename", "reconn", "currState"})
        EXPECT_EQ(ZND_UCI_INCOMPLETE, ZND_UciGet((std::string("userinfo.1.") + option).c_str(), &value)) << option;
    EXPECT_EQ(0, ZND_UciSet("userinfo.1.currState", "ACC_OK"));
    EXPECT_EQ(ZND_UCI_COMPLETE, ZND_UciGet("userinfo.1.currState", &value));
    EXPECT_EQ("ACC_OK", value);
    ZND_UciSetConfDir("/etc/config");
    ZND_TestSh("rm -rf " + ZND_TestQuote(dir));
}

} // namespace
