// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_BENCH_COUNTS_H
#define VEMUTILS_BENCH_COUNTS_H

// Instruction counting: the benchmark loops run a fixed number of times so
// that callgrind can count what happens inside them. scripts/bench
// --instructions drives these commands:
//   --list-counts           the ids of the counted workloads, one a line
//   --count ID [--reps N]   runs workload ID N times (default: about 1 MB of
//                           input) and prints the bytes it processed
//   --report-counts DIR     prints the table from DIR/<file>.bytes (what
//                           --count printed) and DIR/<file>.out (callgrind's
//                           output of that run, written with
//                           --compress-strings=no --compress-pos=no), where
//                           <file> is the id with '/' as '_'
namespace bench {

// Runs the command in argv and sets *status when there is one; returns
// false, touching nothing, when argv holds none of them.
bool countsMain(int argc, char **argv, int *status);

} // namespace bench

#endif
