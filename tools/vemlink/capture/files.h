// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_FILES_H
#define VEMLINK_FILES_H

// The paths a tap makes: its capture files and the link to the
// application's end. Each object owns what it made and undoes or closes it
// when it goes, on every way out.
#include <cstddef>
#include <string>

// A capture file, written through: every write goes to the file at once,
// so that a reader of the file (tail -f, a decode) sees the bytes when the
// tap has forwarded them, and a killed tap loses nothing it wrote.
class SaveFile {
public:
    SaveFile() = default;
    SaveFile(const SaveFile &) = delete;
    SaveFile &operator=(const SaveFile &) = delete;
    ~SaveFile();

    // Creates path new, mode 0600 (captures may hold passwords), never
    // through a symbolic link. An existing path is refused, left untouched:
    // with force an existing regular file is replaced, anything else
    // (a symbolic link included) still refused. False with the reason,
    // naming path, in error.
    bool create(const std::string &path, bool force, std::string &error);

    // Removes the file made by create, for when the command does not start.
    void discard();

    // Appends n bytes. The first failure (a full disk) is said on standard
    // error at once, for command; nothing more is written after it.
    void write(const char *command, const unsigned char *p, size_t n);

    bool failed() const { return mFailed; }

private:
    int mFd = -1;
    std::string mPath;
    bool mFailed = false;
};

// A symbolic link to the application's end of a tap.
class LinkPath {
public:
    LinkPath() = default;
    LinkPath(const LinkPath &) = delete;
    LinkPath &operator=(const LinkPath &) = delete;
    // Removes the link if it still leads to the target it was made for.
    ~LinkPath();

    // Makes path a symbolic link to target atomically: a link under a
    // temporary name, then renamed to path. An existing path is refused,
    // except a stale link of an earlier tap: a symbolic link into /dev/pts/
    // whose target is gone. False with the reason in error.
    bool make(const std::string &path, const std::string &target, std::string &error);

private:
    std::string mPath;
    std::string mTarget;
};

#endif
