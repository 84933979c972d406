// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "vemconfig.h"

#include <gtest/gtest.h>

#include <string>

#include "null_key.h"
#include "stdout_capture.h"
#include "temp_dir.h"

namespace {

const char *const DEF = "<default>";

// Runs cConfig::load(path), sets result to what it returned and returns what it printed.
std::string loadPrinting(const char *path, bool &result)
{
    return printedBy([&] { result = cConfig::load(path); });
}

// The configuration belongs to the process and has no way back to unloaded,
// so its whole life is one test, in order, in an executable of its own.
TEST(ConfigLifecycle, UnloadedThenLoadedOnceForGood)
{
    TempDir dir;
    const std::string good = dir.write("good.properties", "name=vem\nport=8080\nempty=\n");
    const std::string other = dir.write("other.properties", "name=other\nextra=1\n");
    const std::string missing = dir.path() + "/missing.properties";
    bool ok = true;

    // Unloaded: the caller's defaults, even for a null key.
    EXPECT_EQ(cConfig::mInstance, nullptr);
    EXPECT_EQ(cConfig::getString("name", DEF), DEF);
    EXPECT_EQ(cConfig::getString(nullptr, DEF), DEF);
    EXPECT_EQ(cConfig::getString("name", nullptr), nullptr);
    EXPECT_EQ(cConfig::getInt("port", 5), 5);
    EXPECT_EQ(cConfig::getInt(nullptr, 9), 9);

    // Failed loads report, stay unloaded and leave the way open.
    EXPECT_EQ(loadPrinting(missing.c_str(), ok), "Failed to load input file " + missing + "\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(loadPrinting(dir.path().c_str(), ok),
              "Failed to load input file " + dir.path() + "\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(loadPrinting(nullptr, ok), "Failed to load input file (null)\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(cConfig::mInstance, nullptr);
    EXPECT_EQ(cConfig::getString("name", DEF), DEF);

    // The first good file becomes the configuration.
    EXPECT_EQ(loadPrinting(good.c_str(), ok), "");
    ASSERT_TRUE(ok);
    cConfig *const instance = cConfig::mInstance;
    ASSERT_NE(instance, nullptr);
    const char *name = cConfig::getString("name", DEF);
    EXPECT_STREQ(name, "vem");
    EXPECT_EQ(cConfig::getInt("port", 5), 8080);
    EXPECT_STREQ(cConfig::getString("empty", DEF), "");
    EXPECT_EQ(cConfig::getInt("empty", 5), 0);
    EXPECT_EQ(cConfig::getString("absent", DEF), DEF);
    EXPECT_EQ(cConfig::getInt("absent", 5), 5);
    expectNullKeyError([] { cConfig::getString(nullptr, DEF); });
    expectNullKeyError([] { cConfig::getInt(nullptr, 1); });

    // Any later load is refused silently, without even opening the path:
    // a missing file would otherwise be reported.
    EXPECT_EQ(loadPrinting(other.c_str(), ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(loadPrinting(missing.c_str(), ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(cConfig::mInstance, instance);
    EXPECT_EQ(cConfig::getString("name", DEF), name);
    EXPECT_STREQ(name, "vem");
    EXPECT_EQ(cConfig::getString("extra", DEF), DEF);
}

} // namespace
