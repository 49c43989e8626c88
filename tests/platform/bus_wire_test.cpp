// Wire form of the host bus: every value arrives with its type, name, order and repetitions intact.
#include <cstring>
#include <gtest/gtest.h>
#include "platform/bus.h"
#include "platform/bus_value_util.h"
#include "platform/host/bus_wire.h"

namespace {

std::string Body(const std::string &line)
{
    return line.substr(0, line.size() - 1);
}

TEST(BusWire, CallRoundTripPreservesEverything)
{
    ZND_BusValue msg = BusSampleMessage();
    std::string line = ZND_BusWireCallLine("zunaro", "rpc", msg);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    // One line: the newline inside the sample's text travels escaped.
    EXPECT_EQ(line.find('\n'), line.size() - 1);

    ZND_BusWireRequest req;
    ASSERT_TRUE(ZND_BusWireParseRequest(line.data(), line.size() - 1, &req));
    EXPECT_EQ(req.op, "call");
    EXPECT_EQ(req.object, "zunaro");
    EXPECT_EQ(req.method, "rpc");
    EXPECT_EQ(BusDiff(req.msg, msg), "");
}

TEST(BusWire, AnswerWithAndWithoutReply)
{
    ZND_BusValue reply = BusSampleMessage();
    std::string line = ZND_BusWireAnswerLine(ZND_BUS_STATUS_OK, &reply);
    int status = -1;
    bool has = false;
    ZND_BusValue back;
    ASSERT_TRUE(ZND_BusWireParseAnswer(line.data(), line.size() - 1, &status, &back, &has));
    EXPECT_EQ(status, ZND_BUS_STATUS_OK);
    EXPECT_TRUE(has);
    EXPECT_EQ(BusDiff(back, reply), "");

    line = ZND_BusWireAnswerLine(ZND_BUS_STATUS_METHOD_NOT_FOUND, nullptr);
    ASSERT_TRUE(ZND_BusWireParseAnswer(line.data(), line.size() - 1, &status, &back, &has));
    EXPECT_EQ(status, ZND_BUS_STATUS_METHOD_NOT_FOUND);
    EXPECT_FALSE(has);
}

TEST(BusWire, ListRequest)
{
    std::string line = ZND_BusWireListLine();
    ZND_BusWireRequest req;
    ASSERT_TRUE(ZND_BusWireParseRequest(line.data(), line.size() - 1, &req));
    EXPECT_EQ(req.op, "list");
}

TEST(BusWire, MalformedTextIsRejected)
{
    const char *bad[] = {
        "",
        "not json",
        "{\"op\":\"call\"}",
        "[\"call\",\"o\"]",
        "[\"call\",\"o\",\"m\",[5,\"\",[]],\"extra\"]",
        "[\"call\",\"o\",\"m\",[5,\"\",[]]] trailing",
        "[\"call\",\"o\",\"m\",[3,\"\",5000000000]]",        // INT32 beyond 32 bits
        "[\"call\",\"o\",\"m\",[9,\"\",null]]",              // no such type
        "[\"call\",\"o\",\"m\",[2,\"\",7]]",                 // STRING holding a number
        "[\"call\",\"o\",\"m\",[3,\"\",\"7\"]]",             // INT32 holding text
        "[\"call\",\"o\",\"m\",[5,\"\",[[2,\"a\"]]]]",       // member without value
        "[\"call\",\"o\",\"m\",[1,\"\",0]]",                 // NULL holding a value
        "[\"call\",7,\"m\",[5,\"\",[]]]",
        "[\"list\",\"x\"]",
    };
    for (const char *text : bad) {
        ZND_BusWireRequest req;
        EXPECT_FALSE(ZND_BusWireParseRequest(text, strlen(text), &req)) << text;
    }
    int status;
    bool has;
    ZND_BusValue v;
    for (const char *text : {"[0]", "[\"0\",null]", "[0,[2,\"\",1]]", "[0,null,1]", "[0,null]x"})
        EXPECT_FALSE(ZND_BusWireParseAnswer(text, strlen(text), &status, &v, &has)) << text;
}

TEST(BusWire, ArrayMembersLoseTheirNames)
{
    const char *text = "[\"call\",\"o\",\"m\",[5,\"top\",[[4,\"a\",[[2,\"n\",\"x\"]]]]]]";
    ZND_BusWireRequest req;
    ASSERT_TRUE(ZND_BusWireParseRequest(text, strlen(text), &req));
    ASSERT_EQ(req.msg.items.size(), 1u);
    EXPECT_EQ(req.msg.items[0].name, "a");
    ASSERT_EQ(req.msg.items[0].items.size(), 1u);
    EXPECT_EQ(req.msg.items[0].items[0].name, "");
    EXPECT_EQ(req.msg.items[0].items[0].str, "x");
}

TEST(BusWire, DeepNestingTravels)
{
    // Deeper than a plain JSON parser accepts by default once wrapped in the wire form.
    ZND_BusValue v = BusScalar(ZND_BUS_TABLE, "");
    ZND_BusValue *cur = &v;
    for (int i = 0; i < 40; i++) {
        cur->items.push_back(BusScalar(ZND_BUS_TABLE, "t"));
        cur = &cur->items.back();
    }
    cur->items.push_back(BusScalar(ZND_BUS_INT32, "leaf", 1));
    std::string line = ZND_BusWireCallLine("o", "m", v);
    ZND_BusWireRequest req;
    ASSERT_TRUE(ZND_BusWireParseRequest(line.data(), line.size() - 1, &req));
    EXPECT_EQ(BusDiff(req.msg, v), "");
    EXPECT_EQ(Body(line).find('\n'), std::string::npos);
}

TEST(BusStrError, TextsOfEveryStatus)
{
    const char *want[] = {"Success",          "Invalid command",   "Invalid argument", "Method not found",
                          "Not found",        "No response",       "Permission denied", "Request timed out",
                          "Operation not supported", "Unknown error", "Connection failed", "Out of memory",
                          "Parsing message data failed", "System error"};
    for (int i = 0; i <= 13; i++)
        EXPECT_STREQ(ZND_BusStrError(i), want[i]) << i;
    EXPECT_STREQ(ZND_BusStrError(14), "Unknown error");
    EXPECT_STREQ(ZND_BusStrError(-1), "Unknown error");
}

} // namespace
