// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "textutils.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "alloc_count.h"

namespace {

using Tokens = std::vector<std::string>;

// A writable copy of the input and the list split from it; the list is
// released with delete[], as a caller would.
class Split {
public:
    explicit Split(const std::string &text) : mText(text), mBuf(text.begin(), text.end())
    {
        mBuf.push_back('\0');
    }
    Split(const Split &) = delete;
    Split &operator=(const Split &) = delete;
    ~Split() { delete[] mList; }

    char **one(char sep) { return mList = cArgParser::parseList(mBuf.data(), sep); }
    char **two(char sep1, char sep2)
    {
        return mList = cArgParser::parseList(mBuf.data(), sep1, sep2);
    }

    int count() const { return cArgParser::argCnt(mList); }
    Tokens tokens() const
    {
        Tokens out;
        for (char **p = mList; *p != nullptr; ++p)
            out.emplace_back(*p);
        return out;
    }
    // Offset of each token in the input; fails unless every token, its
    // terminating NUL included, lies inside the input.
    std::vector<size_t> offsets() const
    {
        std::vector<size_t> out;
        const char *begin = mBuf.data();
        const char *end = begin + mText.size();
        for (char **p = mList; *p != nullptr; ++p) {
            EXPECT_TRUE(*p >= begin && *p <= end) << "token outside the input";
            if (*p < begin || *p > end)
                break;
            EXPECT_LE(*p + std::strlen(*p), end);
            out.push_back(static_cast<size_t>(*p - begin));
        }
        return out;
    }
    // The input's bytes after the split, terminator left off.
    std::string bytes() const { return std::string(mBuf.data(), mText.size()); }

private:
    std::string mText;
    std::vector<char> mBuf;
    char **mList = nullptr;
};

bool isSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Entries the two-separator form allocates: every separator byte after the
// leading whitespace may start a token, plus the first token and the null.
size_t twoSepRoom(const std::string &s, char sep1, char sep2)
{
    size_t i = 0;
    while (i < s.size() && isSpace(s[i]))
        ++i;
    size_t room = 2;
    for (; i < s.size(); ++i)
        if (s[i] != '\0' && (s[i] == sep1 || s[i] == sep2))
            ++room;
    return room;
}

// Where the tokens start and what the input looks like after splitting,
// worked out on a std::string by index.
struct Expected {
    std::vector<size_t> starts;
    std::string bytes;
};

Expected oneSepReference(const std::string &s, char sep)
{
    Expected e{{0}, s};
    for (size_t i = 0; i < s.size(); ++i)
        if (sep != '\0' && s[i] == sep) {
            e.bytes[i] = '\0';
            e.starts.push_back(i + 1);
        }
    return e;
}

Expected twoSepReference(const std::string &s, char sep1, char sep2)
{
    Expected e{{}, s};
    char cur = sep1;
    size_t i = 0;
    for (;;) {
        while (i < s.size() && isSpace(s[i]))
            ++i;
        if (i == s.size())
            return e;
        e.starts.push_back(i);
        const size_t end = cur == '\0' ? std::string::npos : s.find(cur, i);
        if (end == std::string::npos)
            return e;
        e.bytes[end] = '\0';
        i = end + 1;
        cur = sep2;
    }
}

std::string show(const std::string &s)
{
    std::string out;
    for (unsigned char c : s) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += std::isprint(c) ? std::string(1, static_cast<char>(c)) : hex;
    }
    return out;
}

struct OneSepCase {
    std::string in;
    char sep;
    Tokens tokens;
};

TEST(ArgParserOneSep, Table)
{
    const OneSepCase cases[] = {
        {"", ',', {""}},
        {"abc", ',', {"abc"}},
        {"a,b,c", ',', {"a", "b", "c"}},
        // Several separators within 4 and within 8 bytes: any machine word.
        {"a,b,c,d,e,f,g,h,i", ',', {"a", "b", "c", "d", "e", "f", "g", "h", "i"}},
        {"key,,value,x,,", ',', {"key", "", "value", "x", "", ""}},
        {"a,,b", ',', {"a", "", "b"}},
        {",", ',', {"", ""}},
        {",a", ',', {"", "a"}},
        {"a,", ',', {"a", ""}},
        {" a , b ", ',', {" a ", " b "}},
        {"  ", ' ', {"", "", ""}},
        {"a b", '\0', {"a b"}},
        {"", '\0', {""}},
        // Bytes of 0x80 and above, as separators and as text.
        {"a\xff"
         "b\xff",
         '\xff',
         {"a", "b", ""}},
        {"\x80\x80", '\x80', {"", "", ""}},
        {"x\xa0y", '\xa0', {"x", "y"}},
        {"\xe9t\xe9,\xff", ',', {"\xe9t\xe9", "\xff"}},
        {"\xff\xfe", '\x7f', {"\xff\xfe"}},
    };
    for (const OneSepCase &c : cases) {
        SCOPED_TRACE("input \"" + show(c.in) + "\" sep " + show(std::string(1, c.sep)));
        Split s(c.in);
        s.one(c.sep);
        EXPECT_EQ(s.tokens(), c.tokens);
        EXPECT_EQ(s.count(), static_cast<int>(c.tokens.size()));
        const Expected e = oneSepReference(c.in, c.sep);
        EXPECT_EQ(s.offsets(), e.starts);
        EXPECT_EQ(s.bytes(), e.bytes);
    }
}

// Entries of the array the last parseList allocated, through this test's
// operator new[]; 0 when another allocator replaced it (valgrind's, which
// then reports any write past the array itself). A size of 0 is never
// asked for: the array always holds the null pointer.
size_t arrayEntries()
{
    return allocCount::lastArrayBytes() / sizeof(char *);
}

// True when the array last allocated holds exactly `entries` entries, or
// when its size is not known (see arrayEntries).
bool exactArray(size_t entries)
{
    const size_t got = arrayEntries();
    return got == 0 || got == entries;
}

// Code that searches many bytes at a time (a C library's strchr and memchr,
// or a compiler's vectorised loop) gets words like these wrong on one byte
// order or word size and right on the other. Every separator value next to
// bytes that differ from it in one bit, in the top bit, in all bits, by one,
// and next to the bytes that defeat carries (01, 7F, 80, FF), at every
// position of a word and every alignment of the string. Separators right
// before the string and right after its terminator must not count, and the
// bytes around the string must stay as they were.
TEST(ArgParserOneSep, MatchesReferenceOnAdversarialWords)
{
    const unsigned char seps[] = {',', ' ', 0x01, 0x7D, 0x7E, 0x7F, 0x80, 0xFE, 0xFF};
    const unsigned char others[] = {0x01, 0x7C, 0x7D, 0x7E, 0x7F, 0x80, 0xBF,
                                    0xDF, 0xEF, 0xF7, 0xFB, 0xFD, 0xFE, 0xFF};
    const size_t len = 20;
    for (unsigned char sep : seps) {
        std::vector<unsigned char> near(std::begin(others), std::end(others));
        for (unsigned char flip : {0x01, 0x80, 0xFF})
            near.push_back(static_cast<unsigned char>(sep ^ flip));
        near.push_back(static_cast<unsigned char>(sep + 1));
        near.push_back(static_cast<unsigned char>(sep - 1));
        for (unsigned char other : near) {
            if (other == sep || other == 0)
                continue;
            for (size_t offset = 0; offset < 8; ++offset)
                for (size_t at = 0; at <= len; ++at)
                    for (size_t run = 1; run <= 2; ++run) {
                        std::string in(len, static_cast<char>(other));
                        for (size_t i = at; i < at + run && i < len; ++i)
                            in[i] = static_cast<char>(sep);
                        std::string buf(offset, static_cast<char>(sep));
                        buf += in;
                        buf += '\0';
                        buf.append(8, static_cast<char>(sep));
                        const std::string around = buf;
                        char **list = cArgParser::parseList(&buf[offset], static_cast<char>(sep));
                        const Expected e = oneSepReference(in, static_cast<char>(sep));
                        std::vector<size_t> starts;
                        for (char **p = list; *p != nullptr; ++p)
                            starts.push_back(static_cast<size_t>(*p - &buf[offset]));
                        const size_t entries = arrayEntries();
                        delete[] list;
                        const std::string trace = show(in) + " at offset " +
                                                  std::to_string(offset) + " sep " +
                                                  show(std::string(1, static_cast<char>(sep)));
                        ASSERT_EQ(starts, e.starts) << trace;
                        ASSERT_TRUE(entries == 0 || entries == e.starts.size() + 1)
                            << trace << ": array of " << entries;
                        ASSERT_EQ(buf.substr(offset, len), e.bytes) << trace;
                        ASSERT_EQ(buf.substr(0, offset), around.substr(0, offset)) << trace;
                        ASSERT_EQ(buf.substr(offset + len), around.substr(offset + len)) << trace;
                    }
        }
    }
}

TEST(ArgParserOneSep, LeadingSeparatorWithAnotherRightBeforeIt)
{
    char buf[] = ",,a";
    char **list = cArgParser::parseList(buf + 1, ',');
    const size_t entries = arrayEntries();
    ASSERT_EQ(cArgParser::argCnt(list), 2);
    EXPECT_EQ(list[0], buf + 1);
    EXPECT_STREQ(list[0], "");
    EXPECT_EQ(list[1], buf + 2);
    EXPECT_STREQ(list[1], "a");
    EXPECT_EQ(buf[0], ',') << "a byte before the string was touched";
    EXPECT_TRUE(entries == 0 || entries == 3) << "array of " << entries;
    delete[] list;
}

struct TwoSepCase {
    std::string in;
    char sep1, sep2;
    Tokens tokens;
};

TEST(ArgParserTwoSep, Table)
{
    const TwoSepCase cases[] = {
        {"cmd a,b,c", ' ', ',', {"cmd", "a", "b", "c"}},
        {"  cmd   a , b ,c ", ' ', ',', {"cmd", "a ", "b ", "c "}},
        {"cmd", ' ', ',', {"cmd"}},
        {"", ' ', ',', {}},
        {"   ", ' ', ',', {}},
        {" \t\n\v\f\r", ' ', ',', {}},
        {"cmd a,", ' ', ',', {"cmd", "a"}},
        {"cmd a, ", ' ', ',', {"cmd", "a"}},
        {"cmd a,,b", ' ', ',', {"cmd", "a", "", "b"}},
        {"cmd\targ", ' ', ',', {"cmd\targ"}},
        {"cmd a\n", ' ', ',', {"cmd", "a\n"}},
        {"a b c", ' ', ' ', {"a", "b", "c"}},
        {"a   b  c  ", ' ', ' ', {"a", "b", "c"}},
        {"a\t\t b", '\t', '\t', {"a", "b"}},
        {"cmd rest of line", ' ', '\0', {"cmd", "rest of line"}},
        {"cmd   rest, of line ", ' ', '\0', {"cmd", "rest, of line "}},
        {"  a b,c", '\0', ',', {"a b,c"}},
        {",cmd a", ' ', ',', {",cmd", "a"}},
        {" =x", '=', ',', {"", "x"}},
        {"=a,b", '=', ',', {"", "a", "b"}},
        {"cmd ,a", ' ', ',', {"cmd", "", "a"}},
        {",,,", ',', ',', {"", "", ""}},
        // Runs of separators: every one after the first ends a token.
        {",;;;", ',', ';', {"", "", "", ""}},
        {",,", ',', ';', {"", ","}},
        {";;;,", ',', ';', {";;;"}},
        {",;; ;", ',', ';', {"", "", "", ""}},
        {"a  ,  ", ',', ' ', {"a  "}},
        {"a b  c   ", ' ', ' ', {"a", "b", "c"}},
        {"a=b=c", '=', ',', {"a", "b=c"}},
        // Bytes of 0x80 and above, as separators and next to whitespace;
        // in the C locale neither 0xA0 nor 0xFF is whitespace.
        {"cmd\xff"
         "a\xfe"
         "b",
         '\xff',
         '\xfe',
         {"cmd", "a", "b"}},
        {"\xa0 cmd", ' ', ',', {"\xa0", "cmd"}},
        {" \xff cmd \xa0,\xff", ' ', ',', {"\xff", "cmd \xa0", "\xff"}},
        {"\x80 \x80\xa0\x80", '\xa0', '\x80', {"\x80 \x80", ""}},
        {"go \xe9t\xe9\xff\xff", ' ', '\xff', {"go", "\xe9t\xe9", ""}},
    };
    for (const TwoSepCase &c : cases) {
        SCOPED_TRACE("input \"" + show(c.in) + "\" seps " + show(std::string{c.sep1, c.sep2}));
        Split s(c.in);
        s.two(c.sep1, c.sep2);
        // Exactly as large as needed: with AddressSanitizer, an array one
        // entry short is caught when the null pointer is written.
        EXPECT_TRUE(exactArray(c.tokens.size() + 1)) << "array of " << arrayEntries();
        EXPECT_EQ(s.tokens(), c.tokens);
        EXPECT_EQ(s.count(), static_cast<int>(c.tokens.size()));
        EXPECT_LE(static_cast<size_t>(s.count()) + 1, twoSepRoom(c.in, c.sep1, c.sep2));
        const Expected e = twoSepReference(c.in, c.sep1, c.sep2);
        EXPECT_EQ(s.offsets(), e.starts);
        EXPECT_EQ(s.bytes(), e.bytes);
    }
}

TEST(ArgParserTwoSep, EmptyFirstTokenPointsAtItsSeparator)
{
    Split s(" =x");
    char **list = s.two('=', ',');
    ASSERT_EQ(s.count(), 2);
    EXPECT_EQ(s.offsets(), (std::vector<size_t>{1, 2}));
    EXPECT_EQ(list[0][0], '\0');
    EXPECT_EQ(s.bytes(), std::string(" \0x", 3));
}

TEST(ArgParser, ArgCntStopsAtFirstNull)
{
    char a[] = "a", b[] = "b";
    char *none[] = {nullptr, a};
    char *two[] = {a, b, nullptr, a, nullptr};
    EXPECT_EQ(cArgParser::argCnt(none), 0);
    EXPECT_EQ(cArgParser::argCnt(two), 2);
}

// Random strings over the bytes that matter (separators, whitespace, 0x80
// and above), split with random separators, checked against the references
// and against the room each form allocates.
class ArgParserGenerated : public ::testing::Test {
protected:
    // The first n bytes of the alphabet; n = sizeof alphabet takes in its NUL.
    char randomByte(size_t n)
    {
        return alphabet[std::uniform_int_distribution<size_t>(0, n - 1)(rng)];
    }
    std::string randomText()
    {
        std::string s(std::uniform_int_distribution<size_t>(0, 24)(rng), ' ');
        for (char &c : s)
            c = randomByte(sizeof alphabet - 1);
        return s;
    }
    char randomSep() { return randomByte(sizeof alphabet); }

    static constexpr char alphabet[] = "ab, =\t\n\r\x7f\x80\xa0\xfe\xff";
    std::mt19937 rng{4};
};

TEST_F(ArgParserGenerated, OneSepMatchesReferenceAndFillsArray)
{
    for (int k = 0; k < 20000; ++k) {
        const std::string in = randomText();
        const char sep = randomSep();
        Split s(in);
        s.one(sep);
        const Expected e = oneSepReference(in, sep);
        // One token per separator plus one: exactly the array's room.
        ASSERT_EQ(static_cast<size_t>(s.count()), e.starts.size())
            << show(in) << " sep " << show(std::string(1, sep));
        ASSERT_EQ(s.offsets(), e.starts) << show(in);
        ASSERT_EQ(s.bytes(), e.bytes) << show(in);
    }
}

TEST_F(ArgParserGenerated, TwoSepMatchesReferenceAndStaysInsideArray)
{
    for (int k = 0; k < 20000; ++k) {
        const std::string in = randomText();
        const char sep1 = randomSep();
        const char sep2 = randomSep();
        Split s(in);
        s.two(sep1, sep2);
        const std::string trace = show(in) + " seps " + show(std::string{sep1, sep2});
        ASSERT_LE(static_cast<size_t>(s.count()) + 1, twoSepRoom(in, sep1, sep2)) << trace;
        ASSERT_TRUE(exactArray(static_cast<size_t>(s.count()) + 1))
            << trace << ": array of " << arrayEntries();
        const Expected e = twoSepReference(in, sep1, sep2);
        ASSERT_EQ(s.offsets(), e.starts) << trace;
        ASSERT_EQ(s.bytes(), e.bytes) << trace;
    }
}

} // namespace
