// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_LINE_RULES_H
#define VEMUTILS_TEST_LINE_RULES_H

// The properties-file line rules applied to a whole text held in memory, the
// way a reader would check them by hand: an independent statement of what a
// load must give, shared by the unit tests and the fuzz target.
#include <cstddef>
#include <map>
#include <string>

// Longest line kept, newline not counted.
const size_t RULES_MAX_LINE = 255;

inline std::map<std::string, std::string> referenceParse(const std::string &text)
{
    std::map<std::string, std::string> table;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.size() > RULES_MAX_LINE)
            continue;
        line = line.substr(0, line.find('\0'));
        line = line.substr(0, line.find('#'));
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            table.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return table;
}

#endif
