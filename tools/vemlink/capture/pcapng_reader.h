// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_PCAPNG_READER_H
#define VEMLINK_PCAPNG_READER_H

// Reads back the records of a vemlink capture (see capture.h for the
// record): tap, monitor and decode --pcap write the same. The reader is
// strict: a file that is not pcapng, a block cut short or whose lengths
// disagree, an interface of another link type, a packet that is no vemlink
// record, is refused with the first fault found and where it is. Sections
// of either byte order are read; a packet's time follows its interface's
// if_tsresol (the microsecond when there is none). Blocks of other types
// (name resolution, statistics, custom) are skipped as the format asks.
#include <cstdint>
#include <string>
#include <vector>

#include "listing/frame.h"

struct CaptureRecord {
    long long timeNs = 0; // since the epoch
    char direction = '<'; // '>' or '<'
    frame::Outcome status = frame::Outcome::OK;
    unsigned long long offset = 0; // of the opening flag in its direction's stream
    uint32_t length = 0;           // bytes between the flags on the wire
    // The bytes between the flags as received, still stuffed; fewer than
    // length for a frame the capture cut.
    std::vector<unsigned char> wire;
};

// Parses a whole capture held in bytes. False with "NAME: what is wrong"
// in error (name stands for the file in the message).
bool parseCapture(const std::vector<unsigned char> &bytes, const std::string &name,
                  std::vector<CaptureRecord> &records, std::string &error);

// Reads the capture at path ("-": standard input) and parses it.
bool readCapture(const char *path, std::vector<CaptureRecord> &records, std::string &error);

#endif
