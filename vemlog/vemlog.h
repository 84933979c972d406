// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLOG_H
#define VEMLOG_H

// The host's logger: a thin printf-style front to one log4cpp category.
//
// cVemlog(category) binds to log4cpp::Category::getInstance(category); info
// and debug log at INFO and DEBUG on it. One trailing newline is dropped
// from the formatted message: ending the line is the layout's job (%n in a
// PatternLayout), so "Frame Received\n" gives one line, not a line and a
// blank one. A message is formatted only when the category's chain lets
// that priority through, so disabled debug calls cost one priority check
// and allocate nothing. Output goes wherever the host configured log4cpp
// (appenders on the category or its parents, or a log4cpp.properties file);
// with no configuration, log4cpp's defaults apply.
//
// Classes derive from it to log under their own category. It has no virtual
// functions, so it adds no vtable slots to the classes built on it.
#include <log4cpp/Category.hh>

class cVemlog {
public:
    explicit cVemlog(const char *category);

    void info(const char *format, ...) __attribute__((format(printf, 2, 3)));
    void debug(const char *format, ...) __attribute__((format(printf, 2, 3)));

    // The category this logger writes to.
    log4cpp::Category &category() const { return *mCategory; }

private:
    log4cpp::Category *mCategory;
};

#endif
