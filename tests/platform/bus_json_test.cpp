// JSON text of bus values, byte for byte, and bus values parsed from JSON.
#include <gtest/gtest.h>
#include "platform/bus.h"
#include "platform/bus_value_util.h"

namespace {

ZND_BusValue ErrorReply()
{
    ZND_BusBuf b;
    ZND_BusBufInit(&b);
    ZND_BusOpenTable(&b, "error");
    ZND_BusAddInt32(&b, "code", -32601);
    ZND_BusAddString(&b, "message", "Unknown error");
    ZND_BusOpenTable(&b, "data");
    ZND_BusAddString(&b, "status", "3");
    ZND_BusAddString(&b, "status", "LOGIN_OK");
    ZND_BusClose(&b);
    ZND_BusClose(&b);
    ZND_BusAddInt32(&b, "id", 0);
    ZND_BusValue v = b.root;
    ZND_BusBufFree(&b);
    return v;
}

ZND_BusValue Containers()
{
    ZND_BusBuf b;
    ZND_BusBufInit(&b);
    ZND_BusOpenArray(&b, "list");
    ZND_BusOpenTable(&b, nullptr);
    ZND_BusAddString(&b, "id", "1");
    ZND_BusAddInt32(&b, "ping", 2147483647);
    ZND_BusClose(&b);
    ZND_BusAddInt32(&b, nullptr, -5);
    ZND_BusOpenTable(&b, nullptr);
    ZND_BusClose(&b);
    ZND_BusOpenArray(&b, nullptr);
    ZND_BusClose(&b);
    ZND_BusClose(&b);
    ZND_BusOpenTable(&b, "empty");
    ZND_BusClose(&b);
    ZND_BusAddNull(&b, "nothing");
    // Members added to a table without a name, as the node list does.
    ZND_BusOpenTable(&b, nullptr);
    ZND_BusAddString(&b, "node", "a");
    ZND_BusClose(&b);
    ZND_BusValue v = b.root;
    ZND_BusBufFree(&b);
    return v;
}

TEST(BusToJson, IndentedReplyKeepsOrderAndDuplicateKeys)
{
    EXPECT_EQ(ZND_BusToJson(ErrorReply(), true),
              "{\n"
              "\t\"error\": {\n"
              "\t\t\"code\": -32601,\n"
              "\t\t\"message\": \"Unknown error\",\n"
              "\t\t\"data\": {\n"
              "\t\t\t\"status\": \"3\",\n"
              "\t\t\t\"status\": \"LOGIN_OK\"\n"
              "\t\t}\n"
              "\t},\n"
              "\t\"id\": 0\n"
              "}");
}

TEST(BusToJson, CompactReplyIsOneLine)
{
    EXPECT_EQ(ZND_BusToJson(ErrorReply(), false),
              "{\"error\":{\"code\":-32601,\"message\":\"Unknown error\",\"data\":{\"status\":\"3\","
              "\"status\":\"LOGIN_OK\"}},\"id\":0}");
}

TEST(BusToJson, ArraysTablesAndEmptyContainers)
{
    EXPECT_EQ(ZND_BusToJson(Containers(), true),
              "{\n"
              "\t\"list\": [\n"
              "\t\t{\n"
              "\t\t\t\"id\": \"1\",\n"
              "\t\t\t\"ping\": 2147483647\n"
              "\t\t},\n"
              "\t\t-5,\n"
              "\t\t{\n"
              "\t\t\t\n"
              "\t\t},\n"
              "\t\t[\n"
              "\t\t\t\n"
              "\t\t]\n"
              "\t],\n"
              "\t\"empty\": {\n"
              "\t\t\n"
              "\t},\n"
              "\t\"nothing\": null,\n"
              "\t{\n"
              "\t\t\"node\": \"a\"\n"
              "\t}\n"
              "}");
    EXPECT_EQ(ZND_BusToJson(Containers(), false),
              "{\"list\":[{\"id\":\"1\",\"ping\":2147483647},-5,{},[]],\"empty\":{},\"nothing\":null,"
              "{\"node\":\"a\"}}");

    ZND_BusBuf b;
    ZND_BusBufInit(&b);
    EXPECT_EQ(ZND_BusToJson(b.root, true), "{\n\t\n}");
    EXPECT_EQ(ZND_BusToJson(b.root, false), "{}");
    ZND_BusBufFree(&b);
}

TEST(BusToJson, StringsAreEscaped)
{
    ZND_BusBuf b;
    ZND_BusBufInit(&b);
    ZND_BusAddString(&b, "q\"k", "a\"b\\c/d\ne\rf\tg\bh\fi\x01j\x1fk\xc3\xa9");
    EXPECT_EQ(ZND_BusToJson(b.root, true),
              "{\n\t\"q\\\"k\": \"a\\\"b\\\\c/d\\ne\\rf\\tg\\bh\\u000ci\\u0001j\\u001fk\xc3\xa9\"\n}");
    ZND_BusBufFree(&b);

    ZND_BusValue nul = BusScalar(ZND_BUS_STRING, "");
    nul.str.assign("x\0y", 3);
    EXPECT_EQ(ZND_BusToJson(nul, false), "\"x\"") << "a string ends at its NUL, as on the router";
}

TEST(BusToJson, OtherScalarTypes)
{
    ZND_BusValue t = BusScalar(ZND_BUS_TABLE, "");
    t.items.push_back(BusScalar(ZND_BUS_INT64, "big", -5000000000LL));
    t.items.push_back(BusScalar(ZND_BUS_BOOL, "yes", 1));
    t.items.push_back(BusScalar(ZND_BUS_BOOL, "no", 0));
    t.items.push_back(BusScalar(ZND_BUS_DOUBLE, "half", 0, "", 0.5));
    t.items.push_back(BusScalar(ZND_BUS_DOUBLE, "whole", 0, "", 2.0));
    t.items.push_back(BusScalar(ZND_BUS_DOUBLE, "tenth", 0, "", 0.1));
    EXPECT_EQ(ZND_BusToJson(t, false),
              "{\"big\":-5000000000,\"yes\":true,\"no\":false,\"half\":0.500000,\"whole\":2.000000,"
              "\"tenth\":0.100000}");

    // A top-level array.
    ZND_BusValue a = BusScalar(ZND_BUS_ARRAY, "");
    a.items.push_back(BusScalar(ZND_BUS_STRING, "", 0, "x"));
    EXPECT_EQ(ZND_BusToJson(a, true), "[\n\t\"x\"\n]");
}

TEST(BusFromJson, IntegersBooleansDoublesNullAndStrings)
{
    ZND_BusValue v;
    ASSERT_EQ(ZND_BusFromJson("{\"a\":2147483647,\"b\":2147483648,\"c\":-2147483648,\"d\":-2147483649,"
                              "\"e\":true,\"f\":false,\"g\":1.5,\"h\":null,\"i\":\"7\",\"j\":\"\\u00e9\\n\"}",
                              &v),
              0);
    ZND_BusValue want = BusScalar(ZND_BUS_TABLE, "");
    want.items = {
        BusScalar(ZND_BUS_INT32, "a", 2147483647),
        BusScalar(ZND_BUS_INT64, "b", 2147483648LL),
        BusScalar(ZND_BUS_INT32, "c", -2147483648LL),
        BusScalar(ZND_BUS_INT64, "d", -2147483649LL),
        BusScalar(ZND_BUS_BOOL, "e", 1),
        BusScalar(ZND_BUS_BOOL, "f", 0),
        BusScalar(ZND_BUS_DOUBLE, "g", 0, "", 1.5),
        BusScalar(ZND_BUS_NULL, "h"),
        BusScalar(ZND_BUS_STRING, "i", 0, "7"),
        BusScalar(ZND_BUS_STRING, "j", 0, "\xc3\xa9\n"),
    };
    EXPECT_EQ(BusDiff(v, want), "");
}

TEST(BusFromJson, NestedContainersKeepMemberOrder)
{
    ZND_BusValue v;
    ASSERT_EQ(ZND_BusFromJson(" {\"z\":{\"y\":1,\"x\":[\"p\",{\"w\":[]},[]]},\"a\":{}}\n", &v), 0);
    ZND_BusValue want = BusScalar(ZND_BUS_TABLE, "");
    ZND_BusValue z = BusScalar(ZND_BUS_TABLE, "z");
    ZND_BusValue x = BusScalar(ZND_BUS_ARRAY, "x");
    ZND_BusValue w = BusScalar(ZND_BUS_TABLE, "");
    w.items.push_back(BusScalar(ZND_BUS_ARRAY, "w"));
    x.items = {BusScalar(ZND_BUS_STRING, "", 0, "p"), w, BusScalar(ZND_BUS_ARRAY, "")};
    z.items = {BusScalar(ZND_BUS_INT32, "y", 1), x};
    want.items = {z, BusScalar(ZND_BUS_TABLE, "a")};
    EXPECT_EQ(BusDiff(v, want), "");

    ASSERT_EQ(ZND_BusFromJson("[1,\"1\"]", &v), 0);
    EXPECT_EQ(v.type, ZND_BUS_ARRAY);
    ASSERT_EQ(v.items.size(), 2u);
    EXPECT_EQ(v.items[0].type, ZND_BUS_INT32);
    EXPECT_EQ(v.items[1].type, ZND_BUS_STRING);
}

TEST(BusFromJson, RejectsScalarsAndBrokenText)
{
    ZND_BusValue v;
    for (const char *text : {"\"text\"", "42", "null", "true", "", "   ", "{\"a\":", "[1,", "{\"a\" 1}"})
        EXPECT_EQ(ZND_BusFromJson(text, &v), -1) << text;
    EXPECT_EQ(ZND_BusFromJson(nullptr, &v), -1);
    // Like the router's bus client, whatever follows the first complete value is not looked at.
    for (const char *text : {"{\"a\":1} x", "{\"a\":1}}"}) {
        ASSERT_EQ(ZND_BusFromJson(text, &v), 0) << text;
        ASSERT_EQ(v.items.size(), 1u);
        EXPECT_EQ(v.items[0].num, 1);
    }
}

TEST(BusFromJson, RenderedTextParsesBackToTheSameValue)
{
    ZND_BusValue sample = BusSampleMessage();
    // Repeated names cannot survive a JSON object parser, nor a string its NUL; drop both.
    sample.items.erase(sample.items.begin() + 3);
    sample.items.pop_back();
    for (bool indent : {false, true}) {
        ZND_BusValue back;
        ASSERT_EQ(ZND_BusFromJson(ZND_BusToJson(sample, indent).c_str(), &back), 0);
        // INT64 values that fit 32 bits come back as INT32.
        ZND_BusValue want = sample;
        for (auto &item : want.items)
            if (item.name == "small64")
                item.type = ZND_BUS_INT32;
        EXPECT_EQ(BusDiff(back, want), "") << indent;
    }
}

} // namespace
