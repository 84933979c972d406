// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "properties.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <climits>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "line_rules.h"
#include "null_key.h"
#include "stdout_capture.h"
#include "temp_dir.h"

using namespace std::string_literals;

namespace {

// The default handed to lookups: an absent key must give back this very pointer.
const char *const ABSENT = "<absent>";

struct Lookup {
    std::string key;
    std::optional<std::string> value; // nullopt: the key must be absent
};

void expectLookups(cProperties &props, const std::vector<Lookup> &lookups)
{
    for (const Lookup &l : lookups) {
        const char *got = props.getString(l.key.c_str(), ABSENT);
        if (!l.value)
            EXPECT_EQ(got, ABSENT)
                << "key [" << l.key << "] should be absent, holds [" << got << "]";
        else
            EXPECT_EQ(got, *l.value) << "key [" << l.key << "]";
    }
}

// Every case also holds every pair the line rules give, so files no one
// would write on purpose (random binary, a 1 MiB line, 100,000 lines) load
// exactly by the rules and keep the good lines around the damage.
TEST(PropertiesFormat, LinesToPairs)
{
    const std::string x253(253, 'x');
    std::mt19937 rng(11);
    std::string binary(256 * 1024, '\0');
    for (char &c : binary)
        c = static_cast<char>(rng());
    std::string manyLines;
    for (int i = 0; i < 100000; ++i)
        manyLines += "k" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    // Lines up to byte 4090, then "key=val" without a newline: the file is
    // read in 4 KiB blocks, so the last line is cut by the first block's end
    // and the last read returns its single last byte.
    std::string cutByBlock;
    for (int i = 0; cutByBlock.size() < 4000; ++i)
        cutByBlock += "k" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    cutByBlock += "#" + std::string(4090 - cutByBlock.size() - 2, 'c') + "\n";
    const std::string lastCutByBlock = cutByBlock + "key=val";

    struct Case {
        const char *name;
        std::string content;
        std::vector<Lookup> lookups;
    } cases[] = {
        {"comments and blank lines",
         "# settings\n\nname=vem\n#port=1\n\nport=8\n",
         {{"name", "vem"}, {"port", "8"}, {"#port", std::nullopt}, {"", std::nullopt}}},
        {"the first '#' cuts the line anywhere",
         "a=1 # note\nb=#x\nc#=d\nhash=x#y#z\n",
         {{"a", "1 "}, {"b", ""}, {"c", std::nullopt}, {"c#", std::nullopt}, {"hash", "x"}}},
        {"the first '=' splits; key and value may be empty",
         "a=b=c\n=v\nk=\n",
         {{"a", "b=c"}, {"", "v"}, {"k", ""}, {"a=b", std::nullopt}}},
        {"lines without '=' add nothing",
         "justtext\n\n#only=comment\n   \n",
         {{"justtext", std::nullopt}, {"#only", std::nullopt}, {"   ", std::nullopt}}},
        {"nothing is trimmed",
         " k = v \n\tt\t=\tx\t\n",
         {{" k ", " v "}, {"k", std::nullopt}, {"k ", std::nullopt}, {"\tt\t", "\tx\t"}}},
        {"a carriage return before the newline stays",
         "a=1\r\nb=\r\n#c=3\r\n\r\n",
         {{"a", "1\r"}, {"b", "\r"}, {"#c", std::nullopt}}},
        {"the first occurrence of a key wins",
         "k=first\nk=second\n=one\n=two\n",
         {{"k", "first"}, {"", "one"}}},
        {"a NUL byte ends the line's text",
         "a=1\0junk=2\nb\0=2\n\0c=3\nd=4\n"s,
         {{"a", "1"}, {"b", std::nullopt}, {"", std::nullopt}, {"c", std::nullopt}, {"d", "4"}}},
        {"the last line needs no newline", "a=1\nb=2", {{"a", "1"}, {"b", "2"}}},
        {"an empty file", "", {{"a", std::nullopt}, {"", std::nullopt}}},
        {"255 characters are read, 256 are dropped whole and reading goes on",
         "k=" + x253 + "\n" +                         // 255
             "long=" + std::string(251, 'y') + "\n" + // 256
             "after=1\n",
         {{"k", x253}, {"long", std::nullopt}, {"after", "1"}}},
        {"the limit counts comments and carriage returns",
         "c=1#" + std::string(252, 'z') + "\n" +      // 256 with the comment
             "cr=" + std::string(251, 'v') + "\r\n" + // 255 with the CR
             "cr2=" + std::string(251, 'w') + "\r\n", // 256 with the CR
         {{"c", std::nullopt}, {"cr", std::string(251, 'v') + "\r"}, {"cr2", std::nullopt}}},
        {"long lines in a row, then a short one",
         "a=" + std::string(254, 'a') + "\n" + "b=" + std::string(5000, 'b') + "\nok=1\n",
         {{"a", std::nullopt}, {"b", std::nullopt}, {"ok", "1"}}},
        {"last line without newline at 255 and at 256",
         "a=1\nk=" + x253,
         {{"a", "1"}, {"k", x253}}},
        {"last line without newline over the limit",
         "a=1\nk=" + x253 + "x",
         {{"a", "1"}, {"k", std::nullopt}}},
        {"the last line cut by the block boundary, its last byte read alone",
         lastCutByBlock,
         {{"key", "val"}, {"k0", "0"}, {"key=va", std::nullopt}}},
        {"an overlong last line without newline, its tail read alone",
         "a=1\n" + std::string(4093, '='),
         {{"a", "1"}, {"", std::nullopt}}},
        {"an overlong last line without newline, a short tail after the block",
         "a=1\n" + std::string(4100, '='),
         {{"a", "1"}, {"", std::nullopt}}},
        {"a one-byte last line without newline stores the empty key",
         "a=1\n=",
         {{"a", "1"}, {"", ""}}},
        {"random binary", "before=1\n" + binary + "\nafter=2\n", {{"before", "1"}, {"after", "2"}}},
        {"a 1 MiB line", "a=1\n" + std::string(1 << 20, 'x') + "=y\nb=2", {{"a", "1"}, {"b", "2"}}},
        {"100,000 lines",
         manyLines,
         {{"k0", "0"}, {"k49999", "49999"}, {"k99999", "99999"}, {"k100000", std::nullopt}}},
        {"NUL bytes and CRLF",
         "a=1\r\nb"s + '\0' + "=2\r\nc=3" + '\0' + "junk\r\n",
         {{"a", "1\r"}, {"b", std::nullopt}, {"c", "3"}}},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cProperties props;
        ASSERT_TRUE(props.load(dir.write("case.properties", c.content).c_str()));
        expectLookups(props, c.lookups);
        for (const auto &[key, value] : referenceParse(c.content))
            ASSERT_EQ(props.getString(key.c_str(), ABSENT), value);
    }
}

// Lines of every length around the limit, and lines far over it, in a file
// big enough that many lines straddle the boundaries of however it is read
// in blocks.
TEST(PropertiesFormat, LongFileMatchesLineByLineReading)
{
    std::mt19937 rng(7);
    const std::string filler = "ab =#\r\t"s + '\0';
    std::string text;
    std::vector<std::string> keys;
    for (int i = 0; i < 400; ++i)
        keys.push_back("key" + std::to_string(i));
    while (text.size() < 1000000) {
        std::string line;
        if (rng() % 10 == 0) {
            // Nothing but '=': any piece of it taken for a line stores the empty key.
            line.assign(RULES_MAX_LINE + 1 + rng() % 9000, '=');
        } else {
            // A quarter of these sit right at the limit.
            const size_t len = rng() % 4 == 0 ? RULES_MAX_LINE - 2 + rng() % 5 : rng() % 320;
            line = keys[rng() % keys.size()] + "=";
            while (line.size() < len)
                line += rng() % 8 == 0 ? filler[rng() % filler.size()]
                                       : static_cast<char>('a' + rng() % 26);
        }
        text += line + "\n";
    }
    text += keys[0] + "=last line without newline";

    const auto expected = referenceParse(text);
    ASSERT_GT(expected.size(), keys.size() / 2);
    TempDir dir;
    cProperties props;
    ASSERT_TRUE(props.load(dir.write("long.properties", text).c_str()));
    std::vector<Lookup> lookups = {{"", std::nullopt}};
    for (const std::string &key : keys) {
        const auto it = expected.find(key);
        lookups.push_back(
            {key, it == expected.end() ? std::nullopt : std::optional<std::string>(it->second)});
    }
    expectLookups(props, lookups);
}

// Keys that agree for a word or more and then differ in one byte, in the
// top bit, by one, or in length; many repeated with other values. Every key
// must get the value of its first line, and keys never written stay absent.
TEST(PropertiesFormat, KeysOrderedByteByByteFirstOccurrenceWins)
{
    std::mt19937 rng(5);
    const std::string bytes = "a\x01\x7f\x80\xfe\xff";
    std::vector<std::string> keys;
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        std::string key(rng() % 20, 'k');
        for (char &c : key)
            if (rng() % 4 == 0)
                c = bytes[rng() % bytes.size()];
        keys.push_back(key);
        text += key + "=" + std::to_string(i) + "\n";
    }
    const auto expected = referenceParse(text);
    ASSERT_LT(expected.size(), keys.size()) << "no key repeated";
    TempDir dir;
    cProperties props;
    ASSERT_TRUE(props.load(dir.write("keys.properties", text).c_str()));
    for (const auto &[key, value] : expected)
        ASSERT_EQ(props.getString(key.c_str(), ABSENT), value) << "key of " << key.size();
    for (std::string key : keys) {
        key += "\x80";
        if (expected.count(key) == 0) {
            ASSERT_EQ(props.getString(key.c_str(), ABSENT), ABSENT);
        }
    }
}

TEST(PropertiesGetInt, DecimalWithStrtolRules)
{
    struct Case {
        const char *value;
        int expected;
    } cases[] = {
        {"42", 42},
        {"-7", -7},
        {"+5", 5},
        {" 8", 8}, // leading whitespace is skipped
        {"\t-3", -3},
        {"010", 10},   // base 10, not octal
        {"0x10", 0},   // not hexadecimal
        {"12abc", 12}, // stops at the first non-digit
        {"1\r", 1},
        {"", 0}, // present but not a number: 0, not the default
        {"abc", 0},
        {"-", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"4294967296", INT_MAX},
        {"9999999999", INT_MAX},
        {"99999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"-4294967297", INT_MIN},
        {"-99999999999999999999", INT_MIN},
    };
    std::string content;
    int i = 0;
    for (const Case &c : cases)
        content += "v" + std::to_string(i++) + "=" + c.value + "\n";
    TempDir dir;
    cProperties props;
    ASSERT_TRUE(props.load(dir.write("int.properties", content).c_str()));
    i = 0;
    for (const Case &c : cases)
        EXPECT_EQ(props.getInt(("v" + std::to_string(i++)).c_str(), 77), c.expected)
            << "value [" << c.value << "]";
    EXPECT_EQ(props.getInt("absent", 77), 77);
    EXPECT_EQ(props.getInt("absent", INT_MIN), INT_MIN);
}

class PropertiesLoad : public ::testing::Test {
protected:
    TempDir dir;
    std::string first = dir.write("first.properties", "a=1\nb=2\n");
    std::string second = dir.write("second.properties", "b=3\nc=4\n");
};

TEST_F(PropertiesLoad, UnloadedTableGivesDefaults)
{
    cProperties props;
    EXPECT_EQ(props.getString("a", ABSENT), ABSENT);
    EXPECT_EQ(props.getString("a", nullptr), nullptr);
    EXPECT_EQ(props.getString("", ABSENT), ABSENT);
    EXPECT_EQ(props.getInt("a", -1), -1);
}

TEST_F(PropertiesLoad, SuccessIsSilentAndReloadReplacesTheTable)
{
    cProperties props;
    const std::string empty = dir.write("empty.properties", "");
    bool ok = false;
    EXPECT_EQ(printedBy([&] { ok = props.load(first.c_str()); }), "");
    ASSERT_TRUE(ok);
    expectLookups(props, {{"a", "1"}, {"b", "2"}});
    EXPECT_EQ(printedBy([&] { ok = props.load(second.c_str()); }), "");
    ASSERT_TRUE(ok);
    expectLookups(props, {{"a", std::nullopt}, {"b", "3"}, {"c", "4"}});
    EXPECT_EQ(printedBy([&] { ok = props.load(empty.c_str()); }), "");
    ASSERT_TRUE(ok);
    expectLookups(props, {{"b", std::nullopt}, {"c", std::nullopt}});
}

TEST_F(PropertiesLoad, FailureReportsAndKeepsTheTable)
{
    struct Case {
        const char *name;
        const char *path;
        std::string shown;
    } cases[] = {
        {"missing file", "/nonexistent/vemutils.properties", "/nonexistent/vemutils.properties"},
        {"directory: opens but cannot be read", dir.path().c_str(), dir.path()},
        {"null path", nullptr, "(null)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cProperties props;
        ASSERT_TRUE(props.load(first.c_str()));
        const char *a = props.getString("a", ABSENT);
        bool loaded = true;
        EXPECT_EQ(printedBy([&] { loaded = props.load(c.path); }),
                  "Failed to load input file " + c.shown + "\n");
        EXPECT_FALSE(loaded);
        // The previous table is still there, down to the very characters.
        EXPECT_EQ(props.getString("a", ABSENT), a);
        expectLookups(props, {{"a", "1"}, {"b", "2"}});
    }
}

// Open descriptors of this process.
size_t openDescriptors()
{
    size_t n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr)
            ++n;
        closedir(d);
    }
    return n;
}

TEST_F(PropertiesLoad, ReleasesEveryFileDescriptor)
{
    cProperties props;
    const size_t before = openDescriptors();
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(props.load(first.c_str()));
        // A directory opens, then fails to read; a missing file fails to open.
        printedBy([&] { EXPECT_FALSE(props.load(dir.path().c_str())); });
        printedBy([&] { EXPECT_FALSE(props.load("/nonexistent/vemutils.properties")); });
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(PropertiesLoad, NullKeyIsALogicError)
{
    cProperties empty;
    cProperties loaded;
    ASSERT_TRUE(loaded.load(first.c_str()));
    for (cProperties *props : {&empty, &loaded}) {
        expectNullKeyError([props] { props->getString(nullptr, ABSENT); });
        expectNullKeyError([props] { props->getInt(nullptr, 1); });
    }
}

} // namespace
