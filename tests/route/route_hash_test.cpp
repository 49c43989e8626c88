#include <gtest/gtest.h>
#include <set>
#include "core/context.h"
#include "core/log.h"
#include "harness/context_reset.h"
#include "harness/log_capture.h"
#include "route/route_test_util.h"

namespace {

int BucketOf(ZND_RouteHash *set, const ZND_RouteEntry *e)
{
    for (int i = 0; i < ZND_ROUTE_HASH_SIZE; i++)
        for (ZND_RouteLink *l = set->buckets[i].next; l != &set->buckets[i]; l = l->next)
            if (l == &e->link)
                return i;
    return -1;
}

TEST(RouteHashIndex, KnownTexts)
{
    EXPECT_EQ(0u, ZND_RouteHashIndex(""));
    EXPECT_EQ(48u, ZND_RouteHashIndex("0"));
    EXPECT_EQ(7u, ZND_RouteHashIndex("1.2.3.4"));
    EXPECT_EQ(371u, ZND_RouteHashIndex("8.8.8.8"));
    EXPECT_EQ(545u, ZND_RouteHashIndex("10.0.0.0"));
    EXPECT_EQ(502u, ZND_RouteHashIndex("192.168.1.0"));
    EXPECT_EQ(1002u, ZND_RouteHashIndex("\xE9"));   // a high byte counts as negative
}

class RouteSet : public ::testing::Test {
protected:
    ScopedSet s;
};

TEST_F(RouteSet, SamePairTwiceStoresOneEntry)
{
    ZND_RouteEntry e = MakeEntry("1.2.3.0", "255.255.255.0");
    ZND_RouteEntry *first = ZND_RouteHashAdd(&s, &e);
    ASSERT_NE(nullptr, first);
    EXPECT_NE(&e, first);   // the set holds its own copy
    EXPECT_EQ(first, ZND_RouteHashAdd(&s, &e));
    EXPECT_EQ(1u, RouteCount(&s));
}

TEST_F(RouteSet, SameAddressDifferentMasksShareABucket)
{
    ZND_RouteEntry a = MakeEntry("10.0.0.0", "255.0.0.0");
    ZND_RouteEntry b = MakeEntry("10.0.0.0", "255.255.0.0");
    ZND_RouteEntry *ea = ZND_RouteHashAdd(&s, &a);
    ZND_RouteEntry *eb = ZND_RouteHashAdd(&s, &b);
    ASSERT_TRUE(ea && eb);
    EXPECT_NE(ea, eb);
    EXPECT_EQ(545, BucketOf(&s, ea));
    EXPECT_EQ(545, BucketOf(&s, eb));
    EXPECT_EQ(ea, ZND_RouteHashFind(&s, &a));
    EXPECT_EQ(eb, ZND_RouteHashFind(&s, &b));
    ZND_RouteEntry c = MakeEntry("10.0.0.0", "255.255.255.0");
    EXPECT_EQ(nullptr, ZND_RouteHashFind(&s, &c));
}

TEST_F(RouteSet, TextsAreNeverNormalised)
{
    s.Add("10.0.0.0", "255.0.0.0");
    s.Add("010.0.0.0", "255.0.0.0");
    s.Add("10.0.0.0 ", "255.0.0.0");
    s.Add("10.0.0.0", "255.000.0.0");
    EXPECT_EQ(4u, RouteCount(&s));
}

TEST_F(RouteSet, WalkGoesByBucketThenInsertionOrder)
{
    // 8.8.8.8 hashes to 371, 192.168.1.0 to 502, 10.0.0.0 to 545, 1.2.3.4 to 7.
    s.Add("10.0.0.0", "255.255.0.0");
    s.Add("8.8.8.8", "255.255.255.255");
    s.Add("10.0.0.0", "255.0.0.0");
    s.Add("192.168.1.0", "255.255.255.0");
    s.Add("1.2.3.4", "255.255.255.255");
    s.Add("10.0.0.0", "255.255.255.0");
    std::vector<std::string> want = {"1.2.3.4/255.255.255.255", "8.8.8.8/255.255.255.255",
                                     "192.168.1.0/255.255.255.0", "10.0.0.0/255.255.0.0",
                                     "10.0.0.0/255.0.0.0", "10.0.0.0/255.255.255.0"};
    EXPECT_EQ(want, SetContents(&s));
}

TEST_F(RouteSet, ManyEntriesKeepEveryInvariant)
{
    char ip[16];
    for (int i = 0; i < 5000; i++) {
        snprintf(ip, sizeof ip, "%d.%d.%d.0", 1 + i % 223, (i / 7) % 256, i % 256);
        s.Add(ip, i % 3 ? "255.255.255.0" : "255.255.0.0");
    }
    size_t n = RouteCount(&s);
    std::set<std::string> seen;
    EXPECT_EQ(&s.set.buckets[1023], s.set.buckets[1023].next);
    for (int i = 0; i < ZND_ROUTE_HASH_SIZE; i++) {
        ZND_RouteLink *head = &s.set.buckets[i];
        for (ZND_RouteLink *l = head->next; l != head; l = l->next) {
            ASSERT_EQ(l, l->next->prev);
            ASSERT_EQ(l, l->prev->next);
            ZND_RouteEntry *e = reinterpret_cast<ZND_RouteEntry *>(reinterpret_cast<char *>(l) -
                                                                  offsetof(ZND_RouteEntry, link));
            ASSERT_EQ((uint32_t)i, ZND_RouteHashIndex(e->ip));
            ASSERT_TRUE(seen.insert(std::string(e->ip) + "/" + e->mask).second);
        }
    }
    EXPECT_EQ(seen.size(), n);
}

TEST_F(RouteSet, ClearEmptiesAndSetStaysUsable)
{
    s.Add("1.2.3.0", "255.255.255.0");
    s.Add("1.2.4.0", "255.255.255.0");
    strcpy(s.set.version, "v1");
    ZND_RouteHashClear(&s);
    EXPECT_EQ(0u, RouteCount(&s));
    EXPECT_STREQ("", s.set.version);
    for (int i = 0; i < ZND_ROUTE_HASH_SIZE; i++)
        ASSERT_EQ(&s.set.buckets[i], s.set.buckets[i].prev);
    s.Add("1.2.3.0", "255.255.255.0");
    EXPECT_EQ(std::vector<std::string>{"1.2.3.0/255.255.255.0"}, SetContents(&s));
}

TEST_F(RouteSet, CopyOntoEmptyAndOntoFullSet)
{
    ScopedSet src, dst;
    strcpy(src.set.version, "20240101");
    src.Add("10.0.0.0", "255.0.0.0");
    src.Add("8.8.8.8", "255.255.255.255");
    src.Add("10.0.0.0", "255.255.0.0");

    ZND_RouteHashCopy(&dst, &src);
    EXPECT_EQ(SetContents(&src), SetContents(&dst));
    EXPECT_STREQ("20240101", dst.set.version);

    // The copy owns its entries: they are other objects than the source's.
    ZND_RouteEntry key = MakeEntry("8.8.8.8", "255.255.255.255");
    EXPECT_NE(ZND_RouteHashFind(&src, &key), ZND_RouteHashFind(&dst, &key));

    ScopedSet other;
    other.Add("172.16.0.0", "255.240.0.0");
    other.Add("10.0.0.0", "255.0.0.0");
    strcpy(other.set.version, "old");
    ZND_RouteHashCopy(&other, &src);
    EXPECT_EQ(SetContents(&src), SetContents(&other));
    EXPECT_STREQ("20240101", other.set.version);
    EXPECT_EQ(3u, RouteCount(&src));   // the source is untouched
}

TEST_F(RouteSet, CopyOfEmptySourceEmptiesAndTakesItsVersion)
{
    ScopedSet src;
    memcpy(src.set.version, "0123456789abcdef0123456789abcdef", 32);   // all 32 bytes used
    s.Add("1.1.1.0", "255.255.255.0");
    ZND_RouteHashCopy(&s, &src);
    EXPECT_EQ(0u, RouteCount(&s));
    EXPECT_EQ(0, memcmp(s.set.version, src.set.version, 32));
}

TEST_F(RouteSet, CopyOntoItselfKeepsTheEntries)
{
    s.Add("1.1.1.0", "255.255.255.0");
    ZND_RouteHashCopy(&s, &s.set);
    EXPECT_EQ(1u, RouteCount(&s));
}

TEST_F(RouteSet, FindWritesDebugLinesOnlyWhenSwitchedOn)
{
    ZND_ContextReset();
    s.Add("10.0.0.0", "255.0.0.0");
    ZND_RouteEntry key = MakeEntry("10.0.0.0", "255.255.0.0");
    LogCapture log;
    ZND_RouteHashFind(&s, &key);
    EXPECT_TRUE(log.lines().empty());
    ZND_DebugOn();
    ZND_RouteHashFind(&s, &key);
    ZND_DebugOff();
    ASSERT_EQ(2u, log.lines().size());
    EXPECT_EQ(LOG_DEBUG, log.lines()[0].priority);
    EXPECT_EQ(0u, log.lines()[0].text.find("[ZND_DBG]  find ip: 10.0.0.0, mask: 255.255.0.0  [line:"));
    EXPECT_EQ(0u, log.lines()[1].text.find("[ZND_DBG]  list ip: 10.0.0.0, mask: 255.0.0.0  [line:"));
    EXPECT_NE(std::string::npos, log.lines()[1].text.find("[ZND_RouteHashFind]\n"));
}

TEST(RouteItem, SplitsAddressAndMaskAtFirstColon)
{
    ZND_RouteEntry e = MakeEntry("x", "y");
    ASSERT_EQ(0, ZND_RouteEntryFromItem(&e, "10.0.0.0:255.0.0.0 trailing words"));
    EXPECT_STREQ("10.0.0.0", e.ip);
    EXPECT_STREQ("255.0.0.0", e.mask);
    ASSERT_EQ(0, ZND_RouteEntryFromItem(&e, "1.2.3.4:  255.255.255.255"));
    EXPECT_STREQ("255.255.255.255", e.mask);
}

// Only a network the kernel takes as written, and never the default route; each item refused is
// told in one line.
TEST(RouteItem, RefusesWhatIsNoNetworkOrWouldBeOverrun)
{
    ZND_RouteEntry e = MakeEntry("1.1.1.1", "255.255.255.255");
    const char *bad[] = {"10.0.0.0", ":255.0.0.0", "10.0.0.0:", "10.0.0.0:   ",
                         "1234567890123456:255.0.0.0", "10.0.0.0:2555555555555555", "a:b:c", "abc:def",
                         "198.18.7.9:255.255.0.0", "1.2.3.4:255.0.255.0", "999.1.1.1:255.0.0.0",
                         "0.0.0.0:0.0.0.0", "10.0.0.0:255.0.0.0x", "10.0.0:255.255.255.0"};
    LogCapture log;
    for (const char *item : bad) {
        EXPECT_EQ(-1, ZND_RouteEntryFromItem(&e, item)) << item;
        EXPECT_STREQ("1.1.1.1", e.ip) << item;
        EXPECT_STREQ("255.255.255.255", e.mask) << item;
        EXPECT_EQ(1u, log.Count(std::string("[ZND_ERROR]  route item(") + item + ") invalid, skipped  [line:")) << item;
    }
    EXPECT_EQ(sizeof bad / sizeof bad[0], log.lines().size());
    EXPECT_EQ(-1, ZND_RouteEntryFromItem(&e, ""));   // a trailing "|": nothing to tell
    EXPECT_EQ(sizeof bad / sizeof bad[0], log.lines().size());
    EXPECT_EQ(0, ZND_RouteEntryFromItem(&e, "255.255.255.255:255.255.255.255"));   // 15 characters fit
    EXPECT_EQ(0, ZND_RouteEntryFromItem(&e, "128.0.0.0:128.0.0.0"));
}

} // namespace
