// Policy parsing of bus messages: named fields of a request and positional string parameters.
#include <gtest/gtest.h>
#include "platform/bus.h"

namespace {

const ZND_BusPolicy kRequestPolicy[] = {
    {"method", ZND_BUS_STRING},
    {"params", ZND_BUS_ARRAY},
    {"id", ZND_BUS_INT32},
};

const ZND_BusPolicy kParamsPolicy[8] = {
    {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING},
    {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING},
};

ZND_BusValue Parsed(const char *json)
{
    ZND_BusValue v;
    EXPECT_EQ(ZND_BusFromJson(json, &v), 0) << json;
    return v;
}

TEST(BusParse, FieldsOfTheRightTypeAreFound)
{
    ZND_BusValue msg = Parsed("{\"id\":7,\"other\":\"x\",\"method\":\"Login\",\"params\":[\"u\",\"p\"]}");
    const ZND_BusValue *tb[3];
    ASSERT_EQ(ZND_BusParse(kRequestPolicy, 3, tb, msg), 0);
    ASSERT_TRUE(tb[0] && tb[1] && tb[2]);
    EXPECT_EQ(tb[0]->str, "Login");
    EXPECT_EQ(tb[1]->items.size(), 2u);
    EXPECT_EQ(tb[2]->num, 7);
}

TEST(BusParse, TypeMismatchCountsAsAbsent)
{
    // "id" as text and beyond 32 bits, "method" as a number, "params" as a table.
    for (const char *json : {"{\"method\":5,\"params\":{},\"id\":\"7\"}", "{\"id\":5000000000,\"params\":\"a\"}"}) {
        ZND_BusValue msg = Parsed(json);
        const ZND_BusValue *tb[3];
        ASSERT_EQ(ZND_BusParse(kRequestPolicy, 3, tb, msg), 0);
        EXPECT_EQ(tb[0], nullptr) << json;
        EXPECT_EQ(tb[1], nullptr) << json;
        EXPECT_EQ(tb[2], nullptr) << json;
    }
}

TEST(BusParse, LastDuplicateOfTheRightTypeWins)
{
    ZND_BusBuf b;
    ZND_BusBufInit(&b);
    ZND_BusAddInt32(&b, "id", 1);
    ZND_BusAddString(&b, "method", "first");
    ZND_BusAddInt32(&b, "id", 2);
    ZND_BusAddString(&b, "method", "second");
    ZND_BusAddInt32(&b, "method", 3);   // wrong type: does not displace "second"
    const ZND_BusValue *tb[3];
    ASSERT_EQ(ZND_BusParse(kRequestPolicy, 3, tb, b.root), 0);
    ASSERT_TRUE(tb[0] && tb[2]);
    EXPECT_EQ(tb[0]->str, "second");
    EXPECT_EQ(tb[1], nullptr);
    EXPECT_EQ(tb[2]->num, 2);
    ZND_BusBufFree(&b);
}

TEST(BusParse, AnyTypeAndNonTables)
{
    const ZND_BusPolicy any[] = {{"x", ZND_BUS_UNSPEC}, {nullptr, ZND_BUS_STRING}};
    ZND_BusValue msg = Parsed("{\"x\":[1],\"\":\"unnamed\"}");
    const ZND_BusValue *tb[2];
    ASSERT_EQ(ZND_BusParse(any, 2, tb, msg), 0);
    ASSERT_NE(tb[0], nullptr);
    EXPECT_EQ(tb[0]->type, ZND_BUS_ARRAY);
    EXPECT_EQ(tb[1], nullptr);   // a policy entry without a name matches nothing

    ZND_BusValue arr = Parsed("[\"method\"]");
    tb[0] = tb[1] = &msg;
    EXPECT_EQ(ZND_BusParse(any, 2, tb, arr), -1);
    EXPECT_EQ(tb[0], nullptr);
    EXPECT_EQ(tb[1], nullptr);
}

TEST(BusParseArray, StringsFillSlotsInOrderOthersSkipped)
{
    ZND_BusValue arr = Parsed("[1,\"a\",true,{\"x\":\"no\"},\"b\",[\"c\"],null,\"d\"]");
    const ZND_BusValue *tb[8];
    ASSERT_EQ(ZND_BusParseArray(kParamsPolicy, 8, tb, arr), 0);
    ASSERT_TRUE(tb[0] && tb[1] && tb[2]);
    EXPECT_EQ(tb[0]->str, "a");
    EXPECT_EQ(tb[1]->str, "b");
    EXPECT_EQ(tb[2]->str, "d");
    for (int i = 3; i < 8; i++)
        EXPECT_EQ(tb[i], nullptr) << i;
}

TEST(BusParseArray, StringsAfterTheLastSlotAreIgnored)
{
    ZND_BusValue arr = Parsed("[\"1\",\"2\",\"3\",\"4\",\"5\",\"6\",\"7\",\"8\",\"9\",\"10\"]");
    const ZND_BusValue *tb[8];
    ASSERT_EQ(ZND_BusParseArray(kParamsPolicy, 8, tb, arr), 0);
    for (int i = 0; i < 8; i++) {
        ASSERT_NE(tb[i], nullptr);
        EXPECT_EQ(tb[i]->str, std::to_string(i + 1));
    }
    // Numbers only: every slot stays empty.
    ZND_BusValue nums = Parsed("[1,2,3]");
    ASSERT_EQ(ZND_BusParseArray(kParamsPolicy, 8, tb, nums), 0);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(tb[i], nullptr);
}

TEST(BusParseArray, NonArrayIsAnError)
{
    const ZND_BusValue *tb[8];
    for (int i = 0; i < 8; i++)
        tb[i] = reinterpret_cast<const ZND_BusValue *>(&tb);
    ZND_BusValue table = Parsed("{\"0\":\"a\"}");
    EXPECT_EQ(ZND_BusParseArray(kParamsPolicy, 8, tb, table), -1);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(tb[i], nullptr);
    ZND_BusValue str;
    str.type = ZND_BUS_STRING;
    EXPECT_EQ(ZND_BusParseArray(kParamsPolicy, 8, tb, str), -1);
}

TEST(BusBuf, ContainerCopiedIntoItsOwnBuffer)
{
    ZND_BusBuf b;
    ZND_BusBufInit(&b);
    ZND_BusAddString(&b, "a", "1");
    ZND_BusAddString(&b, "b", "2");
    // The source is the buffer's own root, whose member storage grows while it is copied.
    ZND_BusAddContainer(&b, "copy", ZND_BUS_ARRAY, b.root);
    EXPECT_EQ(ZND_BusToJson(b.root, false), "{\"a\":\"1\",\"b\":\"2\",\"copy\":[\"1\",\"2\"]}");
    ZND_BusBufFree(&b);
}

} // namespace
