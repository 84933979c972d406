// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_VEMCONFIG_H
#define VEMUTILS_VEMCONFIG_H

// The process-wide configuration: one properties file (format in
// properties.h) loaded once, then read from anywhere through the static
// lookups. Until a load succeeds every lookup returns the caller's default,
// so code may read settings before, or without, any configuration file.
//
// Two states: unloaded (mInstance null) and loaded. The first successful load
// is the only transition; there is no unload and no reload, and the instance
// and its table are never freed. No locking: the host must make its load
// happen before lookups on other threads, and must not run two first loads
// at once. Lookups only read.
#include "properties.h"

class cConfig {
public:
    // Holds properties, which the instance then owns. Nothing else is done.
    cConfig(cProperties *properties);

    // Loads the file at path as the process configuration and returns true.
    // Returns false without opening anything when a configuration is already
    // loaded. When the file cannot be loaded (cProperties::load has then
    // written its message to std::cout), returns false and stays unloaded,
    // so a later call may try again.
    static bool load(const char *path);

    // Unloaded: def itself, even for a null key. Loaded: the table's value
    // for key or def (cProperties::getString); the characters stay valid until
    // the process ends. A null key then throws std::logic_error.
    static const char *getString(const char *key, const char *def);

    // Unloaded: def, even for a null key. Loaded: cProperties::getInt.
    static int getInt(const char *key, int def);

    // The one instance: null until the first successful load.
    static cConfig *mInstance;

private:
    cProperties *mProperties;
};

#endif
