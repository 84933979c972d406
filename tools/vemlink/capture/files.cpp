// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "capture/files.h"

#include "listing/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int createNew(const std::string &path)
{
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// The target of the symbolic link at path, "" when it is none.
std::string linkTarget(const std::string &path)
{
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    return n > 0 && static_cast<size_t>(n) < sizeof target
               ? std::string(target, static_cast<size_t>(n))
               : std::string();
}

} // namespace

SaveFile::~SaveFile()
{
    if (mFd >= 0)
        close(mFd);
}

bool SaveFile::create(const std::string &path, bool force, std::string &error)
{
    mPath = path;
    mFd = createNew(path);
    if (mFd < 0 && errno == EEXIST) {
        struct stat st {};
        if (!force) {
            error = path + " exists; it is left as it is (--force replaces a file)";
            return false;
        }
        if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            error = path + " exists and is not a regular file; it is left as it is";
            return false;
        }
        if (unlink(path.c_str()) == 0)
            mFd = createNew(path);
    }
    if (mFd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void SaveFile::discard()
{
    if (mFd < 0)
        return;
    close(mFd);
    mFd = -1;
    unlink(mPath.c_str());
}

void SaveFile::write(const char *command, const unsigned char *p, size_t n)
{
    while (mFd >= 0 && !mFailed && n > 0) {
        const ssize_t w = ::write(mFd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
        } else if (w < 0 && errno == EINTR) {
            continue;
        } else {
            mFailed = true;
            output::error(command, "writing " + mPath + ": " + std::strerror(w < 0 ? errno : EIO) +
                                       "; forwarding goes on, unsaved");
        }
    }
}

LinkPath::~LinkPath()
{
    if (!mPath.empty() && linkTarget(mPath) == mTarget)
        unlink(mPath.c_str());
}

bool LinkPath::make(const std::string &path, const std::string &target, std::string &error)
{
    struct stat st {};
    bool stale = false;
    if (lstat(path.c_str(), &st) == 0) {
        struct stat gone {};
        stale = S_ISLNK(st.st_mode) && linkTarget(path).compare(0, 9, "/dev/pts/") == 0 &&
                stat(path.c_str(), &gone) < 0 && errno == ENOENT;
        if (!stale) {
            error = path + " exists; it is left as it is (--link makes a new path)";
            return false;
        }
    }
    const std::string temporary = path + ".vemlink-" + std::to_string(getpid());
    if (symlink(target.c_str(), temporary.c_str()) < 0) {
        error = "cannot make the link " + path + ": " + std::strerror(errno);
        return false;
    }
    // Over a stale link a plain rename; anywhere else one that refuses to
    // replace what another program made in the meantime.
    const int moved =
        stale ? rename(temporary.c_str(), path.c_str())
              : renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    if (moved < 0) {
        error = "cannot make the link " + path + ": " + std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    mPath = path;
    mTarget = target;
    return true;
}
