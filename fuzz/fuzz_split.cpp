// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Splitting arbitrary strings with arbitrary separators. The input's first
// byte picks the form, the next two are the separators, the rest (up to a
// NUL) is the string, copied into a heap block of exactly its size so that
// AddressSanitizer sees any access past the string or past the array.
// Checks the tokens against a plain restatement of the rules on std::string
// and that every token lies inside the string.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "textutils.h"

#include "check.h"

namespace {

bool space(unsigned char c)
{
    return std::isspace(c) != 0;
}

std::vector<std::string> oneSep(const std::string &s, unsigned char sep)
{
    std::vector<std::string> out(1);
    for (unsigned char c : s) {
        if (sep != 0 && c == sep)
            out.emplace_back();
        else
            out.back() += static_cast<char>(c);
    }
    return out;
}

std::vector<std::string> twoSep(const std::string &s, unsigned char sep1, unsigned char sep2)
{
    std::vector<std::string> out;
    size_t i = 0;
    unsigned char cur = sep1;
    for (;;) {
        while (i < s.size() && space(static_cast<unsigned char>(s[i])))
            ++i;
        if (i == s.size())
            return out;
        size_t j = i;
        while (j < s.size() && !(cur != 0 && static_cast<unsigned char>(s[j]) == cur))
            ++j;
        out.push_back(s.substr(i, j - i));
        if (j == s.size())
            return out;
        i = j + 1;
        cur = sep2;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const bool two = data[0] & 1;
    const auto sep1 = static_cast<unsigned char>(data[1]);
    const auto sep2 = static_cast<unsigned char>(data[2]);
    const std::string text(reinterpret_cast<const char *>(data + 3),
                           strnlen(reinterpret_cast<const char *>(data + 3), size - 3));

    std::unique_ptr<char[]> str(new char[text.size() + 1]);
    std::memcpy(str.get(), text.c_str(), text.size() + 1);
    char *const begin = str.get();
    char *const end = begin + text.size();

    const std::vector<std::string> want = two ? twoSep(text, sep1, sep2) : oneSep(text, sep1);
    std::unique_ptr<char *[]> list(
        two ? cArgParser::parseList(begin, static_cast<char>(sep1), static_cast<char>(sep2))
            : cArgParser::parseList(begin, static_cast<char>(sep1)));
    CHECK(cArgParser::argCnt(list.get()) == static_cast<int>(want.size()));
    for (size_t i = 0; i < want.size(); ++i) {
        char *tok = list[i];
        CHECK(tok >= begin && tok <= end);
        CHECK(std::strlen(tok) == want[i].size() && tok + want[i].size() <= end);
        CHECK(want[i] == tok);
    }
    return 0;
}
