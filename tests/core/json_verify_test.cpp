// The "code" member of cloud replies and route list files.
#include <gtest/gtest.h>
#include <json-c/json.h>
#include "core/context.h"
#include "core/json.h"
#include "core/result.h"
#include "harness/context_reset.h"
#include "harness/log_capture.h"

namespace {

uint32_t verify(const char *text)
{
    json_object *obj = json_tokener_parse(text);
    uint32_t rc = CFGI_JsonRespCodeVerify(obj);
    json_object_put(obj);
    return rc;
}

TEST(JsonVerify, CodesMapToResults)
{
    ZND_ContextReset();
    LogCapture log;
    EXPECT_EQ(ZND_OK, verify("{\"code\": 0, \"msg\": \"ok\"}"));
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(ZND_ERR_GID_INVALID, verify("{\"code\": 1}"));
    EXPECT_TRUE(log.Has("http request gid invalide"));
    EXPECT_EQ(ZND_ERR_MAC_USED, verify("{\"code\": 2}"));
    EXPECT_TRUE(log.Has("http request mas is used"));
    EXPECT_EQ(ZND_ERR_USER_ACCOUNT, verify("{\"code\": 3}"));
    EXPECT_TRUE(log.Has("http requese user account invalide"));
    EXPECT_EQ(ZND_ERR_COMMON, verify("{\"code\": 7}"));
    EXPECT_TRUE(log.Has("response code value error"));
    EXPECT_EQ(ZND_ERR_COMMON, verify("{\"msg\": \"no code\"}"));
    EXPECT_TRUE(log.Has("get code failed!"));
    EXPECT_EQ(ZND_ERR_COMMON, verify("[0]"));
    EXPECT_EQ(ZND_ERR_COMMON, CFGI_JsonRespCodeVerify(nullptr));
}

TEST(JsonVerify, MemberLookup)
{
    json_object *obj = json_tokener_parse("{\"a\": null, \"b\": 5}");
    json_object *m = nullptr;
    EXPECT_EQ(nullptr, ZND_JsonGetMember(obj, "zz"));
    EXPECT_EQ(nullptr, ZND_JsonGetMember(obj, "a"));   // present but null: nothing to read
    ASSERT_NE(nullptr, m = ZND_JsonGetMember(obj, "b"));
    EXPECT_EQ(5, json_object_get_int(m));
    EXPECT_EQ(nullptr, ZND_JsonGetMember(nullptr, "b"));
    json_object_put(obj);
}

} // namespace
