// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_BENCH_WORKLOADS_H
#define VEMUTILS_BENCH_WORKLOADS_H

// The inputs and the measured loops, shared by the timed benchmarks and the
// instruction-counting runs so that both measure exactly the same code.
//
// Every loop is a kernel:: function that is never inlined, so callgrind can
// attribute to it (and to the library function it calls) the instructions
// spent inside. Inputs are deterministic: the same seed gives the same bytes
// on every run and every machine.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "hdlc.h"
#include "properties.h"

namespace bench {

using Bytes = std::vector<unsigned char>;

// Bytes of the CRC buffer.
const size_t CRC_BYTES = 64 * 1024;
// Wire bytes of a received stream: whole frames up to at least this many.
const size_t STREAM_BYTES = 64 * 1024;
// Lines of the properties file.
const int PROPERTY_LINES = 10000;
// Tokens of the comma-separated list.
const int LIST_TOKENS = 4096;

enum class Payload { Random, AllFlags };

// n pseudo-random bytes from a fixed seed.
Bytes randomBytes(size_t n, unsigned seed);
// One payload of len bytes: random from seed, or every byte 7E.
Bytes payload(Payload kind, int len, unsigned seed);
// Frames built by frameData from payloads of len bytes, back to back, until
// at least STREAM_BYTES; *frames gets their number.
Bytes wireStream(Payload kind, int len, int *frames);

// A file of PROPERTY_LINES lines that cProperties and inih read alike:
// key=value lines with distinct keys in no particular order, a comment line
// every 50 lines and an empty line every 100; no spaces around '=', no ';'
// or ':'. Written once to a temporary file, removed at exit; returns its
// path and sets *bytes to its size.
const char *propertiesFile(size_t *bytes);
// Hands the memory freed so far back to malloc's main free lists, so that a
// table built next is laid out as in a process's first load. Left alone,
// the nodes of the table freed by the previous run sit in malloc's per-size
// caches: the next table is built from them, scattered over the heap, and
// whoever makes the first large allocation pays for merging them.
void freshHeap();
// LIST_TOKENS tokens of 1 to 12 letters and digits, joined by commas.
std::string commaList();

} // namespace bench

namespace kernel {

// The FCS-16 register over n bytes from 0xFFFF: the library's exported step
// called per byte, Boost.CRC with the X-25 parameters, and one bit at a time.
unsigned short crcVemutils(const unsigned char *p, size_t n);
unsigned short crcBoost(const unsigned char *p, size_t n);
unsigned short crcBitwise(const unsigned char *p, size_t n);

// One frame through the virtual call; returns its wire length.
int frame(cHDLC &link, unsigned char *src, int len, unsigned char *dst);
// Every byte of wire through the virtual call; returns the frames delivered.
int unframe(cHDLC &link, const unsigned char *wire, size_t n, unsigned char *dst);

// The file at path into a table: cProperties, and inih filling a map the
// same way (first occurrence wins), emptied first as load replaces its table.
bool propertiesLoad(cProperties &props, const char *path);
bool inihLoad(std::map<std::string, std::string> &table, const char *path);

// str split in place at every sep into a new[] array ending in null: the
// library's parseList, and a count of the separators then a strsep loop.
char **parseList(char *str, char sep);
char **strsepList(char *str, char sep);

} // namespace kernel

#endif
