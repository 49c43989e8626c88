// The bus request handler through a private ubusd: parsing of method,
// params and id, the mapping of the method table, and the reply layout byte for byte.
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include "cloud/node.h"
#include "control/rpc.h"
#include "control/state.h"
#include "control_fixture.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "harness/bus_json.h"
#include "harness/child.h"
#include "harness/ubusd.h"
#include "platform/bus.h"
#include "platform/loop.h"

namespace control_test {
namespace {

class Rpc : public ControlTest {
protected:
    void SetUp() override
    {
        ControlTest::SetUp();
        ASSERT_TRUE(ubusd.Start());
        ASSERT_EQ(0, ZND_LoopInit());
        ZND_UbusInit();
        ASSERT_NE(nullptr, g_znd.ubusCtx);
    }
    void TearDown() override
    {
        ZND_UbusDeinit();
        ZND_LoopDone();
        ControlTest::TearDown();
    }

    // Calls zunaro.rpc with the JSON message through ubusd, from a child process while this one
    // serves the loop; the reply as compact JSON.
    std::string Call(const std::string &json)
    {
        int status = RunChild([&] {
            struct ubus_context *c = ubus_connect(nullptr);
            ZND_BusBuf msg;
            uint32_t id;
            std::string reply;
            if (!c || !ZND_TestBusFromJson(&msg, json) || ubus_lookup_id(c, "zunaro", &id) != 0)
                return 100;
            int st = ubus_invoke(c, id, "rpc", ZND_BusBufMsg(&msg), on_reply, &reply, 10000);
            ZND_TestWriteFile("/tmp/rpc.reply", reply);
            return st;
        });
        EXPECT_EQ(ZND_BUS_STATUS_OK, status) << "the handler always reports success to the bus: " << json;
        EXPECT_EQ(nullptr, g_znd.resultBuf.buf.head) << "the result table is freed after each request";
        return ZND_TestReadFile("/tmp/rpc.reply");
    }

    static void on_reply(struct ubus_request *req, int, struct blob_attr *msg)
    {
        *static_cast<std::string *>(req->priv) = ZND_TestBusJson(msg);
    }

    // Calls the handler directly, as the bus would with msg; the reply it built.
    std::string Direct(ZND_BusMsg *msg)
    {
        ZND_RequestHandler(g_znd.ubusCtx, &g_znd.rpcObject, nullptr, "rpc", msg);
        return ZND_TestBusJson(ZND_BusBufMsg(&g_znd.replyBuf));
    }

    UbusdProcess ubusd;

    void LoggedIn()
    {
        ASSERT_EQ("{\"result\":{\"uName\":\"alice\",\"uPass\":\"secret\",\"uType\":\"13\",\"uConflict\":\"0\","
                  "\"uExpire\":\"2027-01-31_23:59:59\",\"uServerTime\":\"2026-12-08_10:00:00\","
                  "\"realIp\":\"203.0.113.7\",\"status\":\"LOGIN_OK\"},\"id\":7}",
                  Call(R"({"method":"Login","params":["alice","secret"],"id":7})"));
    }
};

std::string error_reply(int code, const char *message, const std::string &data, int id)
{
    return "{\"error\":{\"code\":" + std::to_string(code) + ",\"message\":\"" + message + "\",\"data\":" + data +
           "},\"id\":" + std::to_string(id) + "}";
}

TEST_F(Rpc, InitRegistersTheObject)
{
    EXPECT_TRUE(log.Has("[ZND_INFO]  ubus init ok  [line:"));
    EXPECT_STREQ("zunaro", g_znd.rpcObject.name);
    EXPECT_STREQ("zunaro", g_znd.rpcObject.type->name);
    ASSERT_EQ(1, g_znd.rpcObject.n_methods);
    EXPECT_STREQ("rpc", g_znd.rpcObject.methods[0].name);
}

TEST_F(Rpc, LoginReplyLayout)
{
    LoggedIn();
}

TEST_F(Rpc, LogoutWithoutIdAnswersIdZero)
{
    LoggedIn();
    EXPECT_EQ("{\"result\":{\"status\":\"INIT\"},\"id\":0}", Call(R"({"method":"Logout"})"));
    // An id that is not a 32-bit integer counts as absent.
    EXPECT_EQ(error_reply(34, "State machine can't deal this command",
                          "{\"msg\":\"State machine can't deal this command\",\"status\":\"INIT\","
                          "\"event\":\"logout\",\"accState\":\"0\",\"status\":\"INIT\"}",
                          0),
              Call(R"({"method":"Logout","id":"12"})"));
    std::string status = Call(R"({"method":"GetStatus","id":1099511627776})");
    EXPECT_EQ(0u, status.find("{\"result\":")) << status;
    EXPECT_EQ(status.size() - 9, status.find("},\"id\":0}")) << status;
}

TEST_F(Rpc, MethodNamesAreCaseSensitive)
{
    EXPECT_EQ(error_reply(-32601, "Unknown error", "{\"status\":\"INIT\"}", 3),
              Call(R"({"method":"logout","id":3})"));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  method not found!  [line:"));
    EXPECT_EQ(error_reply(-32601, "Unknown error", "{\"status\":\"INIT\"}", 4), Call(R"({"method":"Login ","id":4})"));
}

TEST_F(Rpc, MissingMethod)
{
    EXPECT_EQ(error_reply(-32601, "Unknown error", "{\"status\":\"INIT\"}", 5), Call(R"({"id":5})"));
    EXPECT_EQ(1u, log.Count("[ZND_ERROR]  no method!  [line:"));
    // A method that is not a string counts as absent.
    EXPECT_EQ(error_reply(-32601, "Unknown error", "{\"status\":\"INIT\"}", 6), Call(R"({"method":10,"id":6})"));
    EXPECT_EQ(2u, log.Count("[ZND_ERROR]  no method!  [line:"));
    EXPECT_FALSE(log.Has("method not found!"));
}

TEST_F(Rpc, EmptyOrMissingMessage)
{
    EXPECT_EQ(error_reply(-32700, "Unknown error", "{\"status\":\"INIT\"}", 0), Call("{}"));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  parse msg error!  [line:"));
    EXPECT_EQ(error_reply(-32700, "Unknown error", "{\"status\":\"INIT\"}", 0), Direct(nullptr));
}

TEST_F(Rpc, LoginWithOneParamOrNumbersIsACommonError)
{
    const std::string refused = error_reply(2, "Common error", "{\"status\":\"INIT\"}", 8);
    EXPECT_EQ(refused, Call(R"({"method":"Login","params":["alice"],"id":8})"));
    EXPECT_EQ(refused, Call(R"({"method":"Login","params":[1234,5678],"id":8})"));
    EXPECT_EQ(refused, Call(R"({"method":"Login","params":"alice","id":8})"));
    EXPECT_EQ(refused, Call(R"({"method":"Login","id":8})"));
    EXPECT_EQ(4u, log.Count("[ZND_ERROR]  parse user Account error  [line:"));
    EXPECT_EQ(0u, CloudCalls("curl "));
}

TEST_F(Rpc, OnlyStringParamsFillTheSlots)
{
    EXPECT_EQ(0u, Call(R"({"method":"Login","params":[1,"alice",true,{"x":"y"},"secret"],"id":1})")
                      .find("{\"result\":{\"uName\":\"alice\",\"uPass\":\"secret\","));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    // Slots 1 to 8: a ninth string is not read, the eighth is.
    Call(R"({"method":"AccStart","params":["a","b","c","d","e","f","g","h","1","7","tokyo","1"],"id":2})");
    EXPECT_EQ(0u, g_znd.client.mode);
    EXPECT_STREQ("c", g_znd.client.nodename);
}

TEST_F(Rpc, RefusedAccStartCarriesStatusTwice)
{
    EXPECT_EQ(error_reply(34, "State machine can't deal this command",
                          "{\"msg\":\"State machine can't deal this command\",\"status\":\"INIT\","
                          "\"event\":\"acc start\",\"accState\":\"0\",\"status\":\"INIT\"}",
                          9),
              Call(R"({"method":"AccStart","params":["1","7","tokyo","1"],"id":9})"));
}

TEST_F(Rpc, GetAccStateCarriesStatusTwice)
{
    LoggedIn();
    EXPECT_EQ("{\"result\":{\"status\":\"3\",\"accMode\":\"0\",\"accState\":\"0\",\"uName\":\"alice\","
              "\"uPass\":\"secret\",\"status\":\"LOGIN_OK\"},\"id\":2}",
              Call(R"({"method":"GetAccState","id":2})"));
}

TEST_F(Rpc, EveryMethodMapsToItsEvent)
{
    // In INIT all but Login, GetStatus and the control commands are refused, and the refusal
    // names the event the method was mapped to.
    struct {
        const char *method;
        const char *event;
    } rows[] = {
        {"Logout", "logout"},
        {"AccStart", "acc start"},
        {"AccStop", "acc stop"},
        {"AccRestart", "acc restart"},
        {"GetNodeList", "get acc node list"},
        {"GetPingTime", "get current acc result info"},
        {"FlushNodeList", "flush acc node list"},
        {"GetAccResult", "get current acc result info"},
        {"GetAccState", "get acc state"},
        {"ForceOffLine", "force offline"},
        {"NetDevChange", "net device interface change"},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(error_reply(34, "State machine can't deal this command",
                              std::string("{\"msg\":\"State machine can't deal this command\",\"status\":\"INIT\","
                                          "\"event\":\"") +
                                  r.event + "\",\"accState\":\"0\",\"status\":\"INIT\"}",
                              11),
                  Call(std::string("{\"method\":\"") + r.method + "\",\"id\":11}"))
            << r.method;
    }
    EXPECT_EQ(0u, Call(R"({"method":"GetStatus","id":1})").find("{\"result\":{\"accState\":\"0\",\"accMode\":\"0\","));
}

TEST_F(Rpc, DebugSwitch)
{
    EXPECT_EQ("{\"result\":{\"status\":\"INIT\"},\"id\":1}", Call(R"({"method":"DebugOn","id":1})"));
    EXPECT_EQ(1, ZND_IsDebugOn());
    log.Clear();
    Call(R"({"method":"Logout","params":["first","second"],"id":12})");
    EXPECT_TRUE(log.Has("[ZND_DBG]  method: Logout  (id:12)  [line:"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  argv: first  [line:"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  id: 12  [line:"));
    Call(R"({"method":"GetStatus","id":13})");
    EXPECT_TRUE(log.Has("[ZND_DBG]  argv:   [line:"));

    EXPECT_EQ("{\"result\":{\"status\":\"INIT\"},\"id\":2}", Call(R"({"method":"DebugOff","id":2})"));
    EXPECT_EQ(0, ZND_IsDebugOn());
    log.Clear();
    Call(R"({"method":"GetStatus","id":14})");
    EXPECT_FALSE(log.Has("[ZND_DBG]"));
}

TEST_F(Rpc, NodeListAndAccResultLayout)
{
    LoggedIn();
    EXPECT_EQ("{\"result\":{"
              "{\"nid\":7,\"rnid\":2,\"lineweight\":3,\"ord\":4,\"ping\":0,\"update\":0,\"servername\":\"tokyo\"},"
              "{\"nid\":8,\"rnid\":2,\"lineweight\":3,\"ord\":4,\"ping\":0,\"update\":0,\"servername\":\"osaka\"},"
              "{\"nid\":9,\"rnid\":2,\"lineweight\":3,\"ord\":4,\"ping\":0,\"update\":1,\"servername\":\"seoul\"},"
              "\"status\":\"LOGIN_OK\"},\"id\":3}",
              Call(R"({"method":"GetNodeList","id":3})"));
    memset(g_znd.nodes, 0, sizeof g_znd.nodes);
    const std::string empty = "{\"result\":{\"ping\":0,\"loss\":\"100\",\"node\":{\"nid\":0,\"servername\":\"\"},"
                              "\"mode\":{\"id\":0,\"mode\":\"模式自动\"},\"status\":\"LOGIN_OK\"},\"id\":4}";
    EXPECT_EQ(empty, Call(R"({"method":"GetAccResult","id":4})"));
    EXPECT_EQ(empty, Call(R"({"method":"GetPingTime","id":4})"));
}

TEST_F(Rpc, FailedActionDeliversItsFieldsUnderData)
{
    cloud.login = kLoginRefused;
    EXPECT_EQ(error_reply(12, "User account invalid",
                          "{\"uName\":\"alice\",\"uPass\":\"bad\",\"uType\":\"0\",\"uConflict\":\"0\","
                          "\"uExpire\":\"\",\"uServerTime\":\"\",\"realIp\":\"\",\"status\":\"INIT\"}",
                          21),
              Call(R"({"method":"Login","params":["alice","bad"],"id":21})"));
}

TEST_F(Rpc, NetDevChangeWanDownAnswersResultZero)
{
    LoggedIn();
    Call(R"({"method":"AccStart","params":["1","7","tokyo","1"],"id":1})");
    ZND_EventMsgHaldle(ZND_EVT_ACC_SUCCESS, nullptr, nullptr);
    ASSERT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    EXPECT_EQ("{\"result\":{\"status\":\"LOGIN_OK\"},\"id\":31}",
              Call(R"({"method":"NetDevChange","params":["wan","down"],"id":31})"));
    int64_t left = ZND_TimeoutRemaining(&g_znd.accTimer);
    EXPECT_GT(left, 29000);
    EXPECT_LE(left, 30000);
}

} // namespace
} // namespace control_test
