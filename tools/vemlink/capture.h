// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_CAPTURE_H
#define VEMLINK_CAPTURE_H

// --pcap: the frames a command lists, also as a pcapng capture for
// Wireshark. Link type LINKTYPE_WIRESHARK_UPPER_PDU (252): each packet
// starts with an exported-PDU tag naming the dissector "vemlink" (the Lua
// dissector shipped with vemlink), then a 16-byte record header, all
// big-endian:
//   0      version, 1
//   1      status: 0 ok, 1 crc-error, 2 dropped, 3 partial
//   2      direction: '>' or '<', as in the listing
//   3      0
//   4-11   offset of the frame's opening flag in its direction's stream
//   12-15  length of the frame on the wire: the bytes between its flags
// and then those bytes as received, still stuffed, FCS included. A cut
// frame (over 2046 bytes, never a good one) keeps its first bytes; the
// packet's original length counts them all. The packet's time is the wall
// clock when the read holding the closing flag came in (for a partial frame,
// the last read of its bytes); epb_flags carry the direction (< inbound,
// > outbound) and, for a frame that is not ok, a link-layer error bit: CRC
// error, packet too long (dropped), packet too short (partial).
#include <memory>
#include <string>
#include <vector>

#include "lister.h"
#include "pcapng.h"

class Capture {
public:
    Capture();
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;
    ~Capture();

    // Creates path, owner-only and never over an existing file or through
    // a symbolic link; an existing FIFO (an extcap's, for one) is opened
    // as it is. "-" is standard output, and whatever the command then
    // writes to standard output goes to standard error instead. Writes the
    // file's header, naming the interface name. False with "cannot write
    // PATH: reason" in error.
    bool open(const char *path, const std::string &name, std::string &error);

    bool active() const { return mWriter != nullptr; }

    // A sink for one direction's lister, '>' or '<', valid while the
    // capture lives.
    FrameSink *sink(char mark);

    // Empty while every record got out; otherwise why the first failed.
    // After a failure no more records are written, but the command goes on:
    // a capture never stops the link.
    const std::string &error() const { return mError; }

private:
    class Sink;
    void record(char mark, unsigned long long timeUs, const WireFrame &f);

    int mFd = -1;
    bool mOwned = false;
    std::string mPath;
    std::string mError;
    std::unique_ptr<PcapngWriter> mWriter;
    std::unique_ptr<Sink> mSinks[2];
    std::vector<unsigned char> mPacket; // the record being written
};

// Told the things a user must know while a command runs (the tap's
// application end), when someone besides standard error wants them: the
// extcap mode shows them in Wireshark. nullptr when nobody does.
extern void (*gAnnounce)(const std::string &message);

#endif
