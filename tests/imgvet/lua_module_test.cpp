// The module as Lua sees it: loaded by require inside this process and by the stock lua5.1
// interpreter, with valid and corrupted images and with arguments that are not paths.
// A static cross build has no dlopen: there the module is linked in and preloaded, and the
// interpreter is the target's, run under the emulator.
#include <gtest/gtest.h>

#include <dlfcn.h>
extern "C" {   // Lua 5.1's own headers (not every build ships lua.hpp)
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}
#include <unistd.h>

#include "harness/sandbox.h"
#include "image_builder.h"
#include "image_dir.h"
#ifdef IMGVET_STATIC_MODULE
#include "lua_preload.h"
#endif

namespace {

#ifdef IMGVET_STATIC_MODULE
const std::string kModuleDir;
#else
const std::string kModuleDir = IMGVET_MODULE_DIR;
#endif

class ImgvetLua : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir_.path().empty());
        ImageFields f;
        f.payload = RandomBytes(5000, 21);
        valid_ = BuildImage(f);
        valid_path_ = dir_.Put("valid.img", valid_);
        L_ = luaL_newstate();
        luaL_openlibs(L_);
#ifdef IMGVET_STATIC_MODULE
        imgvet_preload(L_);
        ASSERT_EQ(0, Run("package.cpath = ''"));
#else
        ASSERT_EQ(0, Run("package.cpath = '" + kModuleDir + "/?.so'"));
#endif
    }
    void TearDown() override { lua_close(L_); }

    int Run(const std::string &code)
    {
        int rc = luaL_dostring(L_, code.c_str());
        if (rc != 0)
            ADD_FAILURE() << lua_tostring(L_, -1);
        return rc;
    }
    // Runs a chunk returning one value and gives it as text ("true", "false", a string, or type name).
    std::string Eval(const std::string &code)
    {
        int top = lua_gettop(L_);
        if (Run(code) != 0)
            return "<error>";
        std::string out;
        if (lua_isboolean(L_, -1))
            out = lua_toboolean(L_, -1) ? "true" : "false";
        else if (lua_type(L_, -1) == LUA_TSTRING)
            out = lua_tostring(L_, -1);
        else
            out = lua_typename(L_, lua_type(L_, -1));
        lua_settop(L_, top);
        return out;
    }

    ImageDir dir_;
    std::string valid_;
    std::string valid_path_;
    lua_State *L_ = nullptr;
};

TEST_F(ImgvetLua, RequireReturnsTheNameAndDefinesOnlyCheck)
{
    EXPECT_EQ("imgvet", Eval("return require 'imgvet'"));
    EXPECT_EQ("function", Eval("return type(check)"));
    EXPECT_EQ("nil", Eval("return type(imgvet)"));
    EXPECT_EQ("imgvet", Eval("return package.loaded.imgvet"));
}

TEST_F(ImgvetLua, CheckAnswersTrueOnlyForAValidImage)
{
    Run("require 'imgvet'");
    EXPECT_EQ("true", Eval("return check('" + valid_path_ + "')"));
    std::string bad = valid_;
    bad[40] ^= 0x20;
    EXPECT_EQ("false", Eval("return check('" + dir_.Put("bad.img", bad) + "')"));
    EXPECT_EQ("false", Eval("return check('" + dir_.path() + "/missing.img')"));
    EXPECT_EQ("false", Eval("return check('')"));
}

TEST_F(ImgvetLua, NonStringArgumentsAreNoPath)
{
    Run("require 'imgvet'");
    // A file named like the number must not be found through it.
    dir_.Put("42", valid_);
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    ASSERT_EQ(0, chdir(dir_.path().c_str()));
    EXPECT_EQ("true", Eval("return check('42')"));
    EXPECT_EQ("false", Eval("return check(42)"));
    EXPECT_EQ("false", Eval("return check(nil)"));
    EXPECT_EQ("false", Eval("return check()"));
    EXPECT_EQ("false", Eval("return check({})"));
    EXPECT_EQ("false", Eval("return check(true)"));
    EXPECT_EQ("false", Eval("return check(check)"));
    // A string with a NUL in it names no file, not the part before the NUL.
    EXPECT_EQ("false", Eval("return check('42\\0junk')"));
    ASSERT_EQ(0, chdir(cwd));
}

TEST_F(ImgvetLua, ExportsTheFourEntryPointsOnly)
{
#ifdef IMGVET_STATIC_MODULE
    GTEST_SKIP() << "a static build loads no shared objects; the host build checks the exports";
#endif
    void *so = dlopen((kModuleDir + "/imgvet.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, so) << dlerror();
    for (const char *name : {"luaopen_imgvet", "imgvet", "check_image", "tinf_crc32"})
        EXPECT_NE(nullptr, dlsym(so, name)) << name;
    for (const char *name : {"image_is_valid", "header_crc_matches", "byte_table", "lane_table"})
        EXPECT_EQ(nullptr, dlsym(so, name)) << name;
    using CheckFn = int (*)(const char *);
    auto check = reinterpret_cast<CheckFn>(dlsym(so, "check_image"));
    ASSERT_NE(nullptr, check);
    EXPECT_EQ(1, check(valid_path_.c_str()));
    dlclose(so);
}

// Runs the stock interpreter with the module directory on LUA_CPATH; output and status.
std::string Lua51(const std::string &code)
{
#ifdef IMGVET_STATIC_MODULE
    const std::string env, lua = IMGVET_TEST_LUA;
#else
    std::string env = "LUA_CPATH='" + kModuleDir + "/?.so' ";
#ifdef IMGVET_ASAN_RUNTIME
    // A sanitized module inside an unsanitized interpreter needs the runtime loaded first.
    env += "LD_PRELOAD='" IMGVET_ASAN_RUNTIME "' ";
#endif
    const std::string lua = "lua5.1";
#endif
    return ZND_TestShOut(env + lua + " -e '" + code + "' 2>&1; echo \"rc=$?\"");
}

TEST_F(ImgvetLua, StockInterpreterLoadsAndChecks)
{
    EXPECT_EQ("imgvet\ntrue\nrc=0\n", Lua51("print(require \"imgvet\"); print(check(\"" + valid_path_ + "\"))"));

    std::string trunc = valid_.substr(0, valid_.size() - 1);
    std::string name = valid_;
    name[35] ^= 0x01;
    std::string data = valid_;
    data[3000] ^= 0x80;
    for (const auto &bad : {trunc, name, data, valid_.substr(0, 63)}) {
        std::string path = dir_.Put("bad.img", bad);
        EXPECT_EQ("imgvet\nfalse\nrc=0\n", Lua51("print(require \"imgvet\"); print(check(\"" + path + "\"))"));
    }
    EXPECT_EQ("false\tfalse\tfalse\nrc=0\n", Lua51("require \"imgvet\"; print(check(nil), check(42), check({}))"));
}

} // namespace
