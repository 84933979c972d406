// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_TEMP_DIR_H
#define VEMUTILS_TEST_TEMP_DIR_H

#include <string>

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return mPath; }
    // Writes content byte for byte to the file name inside the directory and returns its path.
    std::string write(const std::string &name, const std::string &content) const;

private:
    std::string mPath;
};

#endif
