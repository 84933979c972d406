// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// The instruction-counting commands alone, without Google Benchmark: what
// scripts/bench --instructions runs on the target under qemu-arm, and under
// callgrind on the host.
#include <cstdio>

#include "counts.h"

int main(int argc, char **argv)
{
    int status = 2;
    if (!bench::countsMain(argc, argv, &status))
        std::fprintf(stderr,
                     "usage: %s --list-counts | --count ID [--reps N] | "
                     "--report-counts DIR\n",
                     argc > 0 ? argv[0] : "vemutils_counts");
    return status;
}
