// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_PCAPNG_H
#define VEMLINK_PCAPNG_H

// A minimal pcapng writer: one section, one interface, Enhanced Packet
// Blocks. Every field is written little-endian byte by byte, with the
// byte-order magic to match, so the file is the same on any host. Each block
// goes to the outlet as one piece, kept whole or dropped whole, so the
// stream stays valid pcapng; a plain outlet writes it at once, so a reader
// following the file (tshark -r, Wireshark on a pipe) sees whole records as
// soon as they are written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "listing/output.h"

namespace pcapng {
// The block types that vemlink writes and reads, and the byte-order magic
// of a section header.
const uint32_t SECTION_HEADER = 0x0A0D0D0A;
const uint32_t INTERFACE_DESCRIPTION = 0x00000001;
const uint32_t ENHANCED_PACKET = 0x00000006;
const uint32_t BYTE_ORDER_MAGIC = 0x1A2B3C4D;

// vemlink's own records (described in capture.h): the link type, the
// exported-PDU tag naming the dissector, the dissector's name, padded with
// NULs to a multiple of four bytes as the tags' values are, and the record
// header that follows the tags.
const uint16_t LINKTYPE_WIRESHARK_UPPER_PDU = 252;
const uint16_t EXP_PDU_TAG_DISSECTOR_NAME = 12;
const char DISSECTOR[8] = "vemlink";
const size_t RECORD_HEADER = 16;
} // namespace pcapng

// epb_flags: bits 0-1 are the direction, bits 24-31 link-layer errors.
const uint32_t PCAPNG_INBOUND = 1;
const uint32_t PCAPNG_OUTBOUND = 2;
const uint32_t PCAPNG_CRC_ERROR = 1u << 24;
const uint32_t PCAPNG_TOO_SHORT = 1u << 26;
const uint32_t PCAPNG_TOO_LONG = 1u << 25;
const uint32_t PCAPNG_SYMBOL_ERROR = 1u << 31;

class PcapngWriter {
public:
    // Writes to out, which the caller keeps while the writer is used.
    explicit PcapngWriter(Outlet &out) : mOut(out) {}

    // The Section Header Block (with comment as its shb_comment, when not
    // empty) and one Interface Description Block for linkType, named name.
    // False when out dropped them or failed.
    bool start(uint16_t linkType, const std::string &name, const std::string &application,
               const std::string &comment = std::string());

    // One Enhanced Packet Block on interface 0: time in microseconds since
    // the epoch, the first capturedLen bytes of data out of originalLen,
    // epb_flags (0 for none) and an opt_comment (nullptr for none). False
    // when out dropped it or failed.
    bool packet(uint64_t timeUs, const unsigned char *data, size_t capturedLen, size_t originalLen,
                uint32_t flags, const char *comment = nullptr);

private:
    bool write(const std::vector<unsigned char> &block);

    Outlet &mOut;
    std::vector<unsigned char> mBlock; // the block being written
};

#endif
