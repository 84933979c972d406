// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "vemconfig.h"

#include <memory>

cConfig *cConfig::mInstance = nullptr;

cConfig::cConfig(cProperties *properties) : mProperties(properties) {}

bool cConfig::load(const char *path)
{
    if (mInstance != nullptr)
        return false;
    auto properties = std::make_unique<cProperties>();
    if (!properties->load(path))
        return false;
    mInstance = new cConfig(properties.release());
    return true;
}

const char *cConfig::getString(const char *key, const char *def)
{
    return mInstance != nullptr ? mInstance->mProperties->getString(key, def) : def;
}

int cConfig::getInt(const char *key, int def)
{
    return mInstance != nullptr ? mInstance->mProperties->getInt(key, def) : def;
}
