// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "vemlog.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include <log4cpp/Priority.hh>

namespace {

log4cpp::Category &categoryNamed(const char *name)
{
    // log4cpp builds its category hierarchy on first use without a lock, so
    // loggers first made on two threads at once would race there. A
    // function-local static makes that first use happen exactly once.
    static log4cpp::Category &root = log4cpp::Category::getRoot();
    (void)root;
    return log4cpp::Category::getInstance(name);
}

// Formats the message and hands it to the category without one trailing
// newline: callers may end a message with '\n' as they would a line of
// printf, while ending the line is the layout's business (a PatternLayout's
// %n). Without this every such message would be followed by a blank line.
void logLine(log4cpp::Category &category, log4cpp::Priority::Value priority, const char *format,
             va_list va)
{
    // Most messages fit here; a longer one is formatted a second time into a
    // string of the right size.
    char small[256];
    va_list again;
    va_copy(again, va);
    const int n = std::vsnprintf(small, sizeof small, format, va);
    std::string message;
    if (n < 0) {
        message = format; // an encoding error: the format says more than nothing
    } else if (static_cast<size_t>(n) < sizeof small) {
        message.assign(small, static_cast<size_t>(n));
    } else {
        message.resize(static_cast<size_t>(n));
        std::vsnprintf(message.data(), message.size() + 1, format, again);
    }
    va_end(again);
    if (!message.empty() && message.back() == '\n')
        message.pop_back();
    category.log(priority, message);
}

} // namespace

cVemlog::cVemlog(const char *category) : mCategory(&categoryNamed(category)) {}

void cVemlog::info(const char *format, ...)
{
    if (!mCategory->isInfoEnabled())
        return;
    va_list va;
    va_start(va, format);
    logLine(*mCategory, log4cpp::Priority::INFO, format, va);
    va_end(va);
}

void cVemlog::debug(const char *format, ...)
{
    if (!mCategory->isDebugEnabled())
        return;
    va_list va;
    va_start(va, format);
    logLine(*mCategory, log4cpp::Priority::DEBUG, format, va);
    va_end(va);
}
