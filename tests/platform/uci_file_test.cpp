// The UCI text format: what real package files look like, what is refused, and the canonical
// form a commit writes.
#include <gtest/gtest.h>
#include "harness/uci_compare.h"
#include "platform/host/uci_file.h"

namespace {

UciPackage Parse(const std::string &text)
{
    UciPackage pkg;
    std::string error;
    EXPECT_TRUE(UciParse(text, &pkg, &error)) << error << "\n" << text;
    return pkg;
}

// Value of a plain option, or "<missing>" / "<list>".
std::string Value(UciPackage &pkg, const std::string &sec, const std::string &opt)
{
    UciSection *s = UciFindSection(&pkg, sec);
    UciOption *o = s ? UciFindOption(s, opt) : nullptr;
    if (!o)
        return "<missing>";
    return o->isList ? "<list>" : o->values.at(0);
}

const char kRealFile[] =
    "# network settings, written by hand\n"
    "package network\n"
    "\n"
    "config interface 'loopback'\n"
    "\toption ifname 'lo'\n"
    "\toption proto static   # trailing comment\n"
    "\toption ipaddr \"127.0.0.1\"\n"
    "\n"
    "config globals globals\n"
    "\toption ula_prefix 'fd12:3456::/48'\n"
    "\n"
    "config rule\n"
    "\tlist dns '8.8.8.8'\n"
    "\tlist dns \"1.1.1.1\"\n"
    "\tlist dns 9.9.9.9\n"
    "\n"
    "config vpn 'vpn'\n"
    "\toption quoted 'it'\\''s \"fine\" # not a comment'\n"
    "\toption joined abc'd e'\"f g\"\\ h\n"
    "\toption escaped \"a\\\"b\\\\c\\td\"\n"
    "\toption bare_escape semi\\;colon\\#hash\n"
    "\toption hash_mid abc#comment 'with words'\n"
    "\toption multi 'line one\n"
    "line two'\n"
    "   \t option   spaced\t\t'x y'   \n"
    "\toption empty ''\n"
    "\toption novalue\n"
    "\toption continued first\\\n"
    "second\n"
    "\toption 'quoted_name' v\n"
    "config wifi-iface\n"
    "\toption ssid \"#hash in quotes\"\n";

TEST(UciParse, ReadsARealFileWithCommentsListsQuotesAndEscapes)
{
    UciPackage pkg = Parse(kRealFile);
    ASSERT_EQ(5u, pkg.sections.size());

    EXPECT_EQ("interface", pkg.sections[0].type);
    EXPECT_EQ("loopback", pkg.sections[0].name);
    EXPECT_EQ("lo", Value(pkg, "loopback", "ifname"));
    EXPECT_EQ("static", Value(pkg, "loopback", "proto"));
    EXPECT_EQ("127.0.0.1", Value(pkg, "loopback", "ipaddr"));
    EXPECT_EQ("fd12:3456::/48", Value(pkg, "globals", "ula_prefix"));

    // Anonymous section: no name, and list items in order across quote styles.
    const UciSection &rule = pkg.sections[2];
    EXPECT_EQ("rule", rule.type);
    EXPECT_EQ("", rule.name);
    ASSERT_EQ(1u, rule.options.size());
    EXPECT_TRUE(rule.options[0].isList);
    EXPECT_EQ((std::vector<std::string>{"8.8.8.8", "1.1.1.1", "9.9.9.9"}), rule.options[0].values);

    EXPECT_EQ("it's \"fine\" # not a comment", Value(pkg, "vpn", "quoted"));
    EXPECT_EQ("abcd ef g h", Value(pkg, "vpn", "joined"));
    EXPECT_EQ("a\"b\\ctd", Value(pkg, "vpn", "escaped"));
    EXPECT_EQ("semi;colon#hash", Value(pkg, "vpn", "bare_escape"));
    EXPECT_EQ("abc", Value(pkg, "vpn", "hash_mid"));
    EXPECT_EQ("line one\nline two", Value(pkg, "vpn", "multi"));
    EXPECT_EQ("x y", Value(pkg, "vpn", "spaced"));
    EXPECT_EQ("", Value(pkg, "vpn", "empty"));
    EXPECT_EQ("", Value(pkg, "vpn", "novalue"));
    EXPECT_EQ("firstsecond", Value(pkg, "vpn", "continued"));
    EXPECT_EQ("v", Value(pkg, "vpn", "quoted_name"));

    EXPECT_EQ("wifi-iface", pkg.sections[4].type);
    EXPECT_EQ("#hash in quotes", pkg.sections[4].options.at(0).values.at(0));
}

TEST(UciParse, AcceptsCrLfLinesEmptyFilesAndCommentOnlyFiles)
{
    UciPackage pkg = Parse("config t 's'\r\n\toption a 'b'\r\n\toption c d\r\n");
    EXPECT_EQ("b", Value(pkg, "s", "a"));
    EXPECT_EQ("d", Value(pkg, "s", "c"));

    EXPECT_TRUE(Parse("").sections.empty());
    EXPECT_TRUE(Parse("# only a comment\n\n   \n# another").sections.empty());
    // No newline at the end of the last line.
    UciPackage unterminated = Parse("config t s\n option o last");
    EXPECT_EQ("last", Value(unterminated, "s", "o"));
}

TEST(UciParse, MergesRepeatedNamesTheWayASetWould)
{
    UciPackage pkg = Parse("config a 'one'\n"
                           "\toption x 1\n"
                           "\toption x 2\n"
                           "\toption l first\n"
                           "\tlist l second\n"
                           "\tlist m item\n"
                           "\toption m plain\n"
                           "config b 'two'\n"
                           "config c 'one'\n"
                           "\toption y 3\n");
    ASSERT_EQ(2u, pkg.sections.size());
    EXPECT_EQ("c", pkg.sections[0].type);   // the later statement names the type
    EXPECT_EQ("2", Value(pkg, "one", "x"));
    EXPECT_EQ("3", Value(pkg, "one", "y"));
    UciOption *l = UciFindOption(UciFindSection(&pkg, "one"), "l");
    ASSERT_NE(nullptr, l);
    EXPECT_TRUE(l->isList);
    EXPECT_EQ((std::vector<std::string>{"first", "second"}), l->values);
    EXPECT_EQ("plain", Value(pkg, "one", "m"));
}

TEST(UciParse, RefusesMalformedFilesWithTheLineOfTheFault)
{
    struct Case {
        const char *text;
        const char *line;
    } cases[] = {
        {"option a b\n", "line 1"},                              // outside a section
        {"\n\nconfig\n", "line 3"},                               // no type
        {"config a b c\n", "line 1"},                             // too many words
        {"config t 'bad-name'\n", "line 1"},                      // section name characters
        {"config 't y' s\n", "line 1"},                           // blank inside the type
        {"config t s\n\toption 'bad.name' v\n", "line 2"},        // option name characters
        {"config t s\n\toption a b c\n", "line 2"},               // too many words
        {"config t s\n\toption\n", "line 2"},                     // no option name
        {"config t s\n\tlist '' v\n", "line 2"},                  // empty list name
        {"config t s\n\toption a 'open\n\n", "line 2"},           // unterminated single quote
        {"config t s\n\toption a \"open\\\"\n", "line 2"},        // escaped quote does not close
        {"config t s\n\toption a b\\", "line 2"},                 // backslash at end of file
        {"config t s\n\tsetting a b\n", "line 2"},                // unknown statement
        {"package\n", "line 1"},                                  // package without a name
        {"package a b\n", "line 1"},
    };
    for (const Case &c : cases) {
        UciPackage pkg;
        std::string error;
        EXPECT_FALSE(UciParse(c.text, &pkg, &error)) << c.text;
        EXPECT_EQ(0u, error.find(c.line)) << c.text << " -> " << error;
    }
    std::string with_nul("config t s\n\toption a b\0c\n", 24);
    UciPackage pkg;
    EXPECT_FALSE(UciParse(with_nul, &pkg));
}

TEST(UciRender, WritesTheCanonicalForm)
{
    UciPackage pkg = Parse("config interface lan\n option proto static\n list dns 1.1.1.1\n list dns 8.8.4.4\n"
                           "config rule\n option quote \"it's\"\n"
                           "config type'#x' 'named'\n");
    EXPECT_EQ("\n"
              "config interface 'lan'\n"
              "\toption proto 'static'\n"
              "\tlist dns '1.1.1.1'\n"
              "\tlist dns '8.8.4.4'\n"
              "\n"
              "config rule\n"
              "\toption quote 'it'\\''s'\n"
              "\n"
              "config 'type#x' 'named'\n"
              "\n",
              UciRender(pkg));
}

TEST(UciRender, WhatIsRenderedParsesBackToTheSamePackage)
{
    UciPackage pkg;
    pkg.sections.push_back(UciSection{"a-type", "s1", {}});
    pkg.sections.push_back(UciSection{"anon", "", {}});
    pkg.sections.push_back(UciSection{"odd\"type'\\#", "s3", {}});
    const char *values[] = {"", " leading and trailing ", "it's", "''", "a\\b", "\"dq\"", "#not comment",
                            "line\nbreak\n", "tab\tand\\\nslash-newline", "'\\''", "\r\n"};
    pkg.sections[1].options.push_back(UciOption{"l", true, {}});
    for (const char *v : values) {
        UciSetOption(&pkg.sections[0], "o" + std::to_string(pkg.sections[0].options.size()), v);
        pkg.sections[1].options[0].values.push_back(v);
    }
    UciSetOption(&pkg.sections[2], "x", "y");

    std::string text = UciRender(pkg);
    UciPackage back;
    std::string error;
    ASSERT_TRUE(UciParse(text, &back, &error)) << error << "\n" << text;
    EXPECT_TRUE(UciSamePackage(pkg, back)) << text;
    EXPECT_EQ(text, UciRender(back));
}

TEST(UciModel, SettingReplacesAListInPlaceAndAppendsNewOptions)
{
    UciPackage pkg = Parse("config t s\n option a 1\n list b x\n list b y\n option c 3\n");
    UciSection *sec = UciFindSection(&pkg, "s");
    UciSetOption(sec, "b", "plain");
    UciSetOption(sec, "d", "4");
    ASSERT_EQ(4u, sec->options.size());
    EXPECT_EQ("b", sec->options[1].name);
    EXPECT_FALSE(sec->options[1].isList);
    EXPECT_EQ(std::vector<std::string>{"plain"}, sec->options[1].values);
    EXPECT_EQ("d", sec->options[3].name);

    EXPECT_EQ(nullptr, UciFindSection(&pkg, ""));   // anonymous sections have no name to find
}

TEST(UciNames, OnlyLettersDigitsAndUnderscore)
{
    for (const char *ok : {"a", "Z9", "_x_", "1"})
        EXPECT_TRUE(UciIsValidName(ok)) << ok;
    for (const char *bad : {"", "a-b", "a.b", "a b", "@s[0]", "../x", "x=y", "é"})
        EXPECT_FALSE(UciIsValidName(bad)) << bad;
    EXPECT_TRUE(UciIsValidType("wifi-iface"));
    EXPECT_FALSE(UciIsValidType("a b"));
    EXPECT_FALSE(UciIsValidType(""));
}

} // namespace
