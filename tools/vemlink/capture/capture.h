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
// error, packet too long (dropped for its length), symbol error (dropped
// for a lone 7D), packet too short (partial). A frame the
// tap impaired on purpose (--to-device, --to-app) carries what was done in
// its opt_comment, for example "corrupted byte 17 bit 3"; a lost frame is
// recorded as it was read, with the comment "lost".
#include <memory>
#include <string>
#include <vector>

#include "listing/lister.h"
#include "capture/pcapng.h"
#include "serial/signals.h"

class Capture {
public:
    // The queue's bound, in bytes: a few thousand frames, more than a
    // second of a fast link.
    static const size_t BOUND = 1024 * 1024;

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
    // An existing FIFO is used only when the user owns it, never through a
    // symbolic link, and is opened once it has a reader; while it waits,
    // a stop signal ends the wait (false, with the stop to be seen in
    // stop).
    bool open(const char *path, const std::string &name, const StopSignals &stop,
              std::string &error);

    // The capture file's comment, for open() to write (for example the
    // seed of a tap's impairments).
    void setComment(const std::string &comment) { mComment = comment; }

    // Removes the file open() created, for a command that does not start.
    void discard();

    // A write failed: the capture stopped (its reader went away).
    bool failed() const { return !mError.empty(); }

    // From now on a command on a live link (named for its messages) is
    // writing: into a pipe or a FIFO, records that do not fit the queue are
    // dropped and counted, never waited for, and a failed write is said at
    // once. Until then, a plain command waits for its reader.
    void goLive(const char *command);

    // The capture's reader has gone, seen without writing: a pipe or FIFO
    // with no reader left (Wireshark stopped or died while nothing came).
    bool readerGone() const;

    bool active() const { return mWriter != nullptr; }

    // Writes queued records as far as the reader takes them now.
    void flush();

    // True while records wait: poll fd() for POLLOUT.
    bool pending() const { return mOut.pending(); }
    int fd() const { return mOut.fd(); }

    // The end of a command's capture: waits up to waitMs for a live reader
    // to take the queue, then counts the dropped records in the listing and
    // on standard error ("N frames not captured: the capture's reader fell
    // behind"). STATUS_FAILED when a write failed, STATUS_OK otherwise. A
    // failed write stops the capture, never the command; a live command
    // says it on standard error when it comes (EPIPE: the reader went
    // away), a plain one at the end.
    int finish(const char *command, int waitMs);

    // A sink for one direction's lister, '>' or '<', valid while the
    // capture lives.
    FrameSink *sink(char mark);

private:
    class Sink;
    int takeStdout(Outlet::Kind &kind);
    int openPath(const char *path, const StopSignals &stop);
    std::string openError(int error) const;
    void record(char mark, unsigned long long timeUs, const WireFrame &f);
    void checkFailed();

    Outlet mOut{-1, BOUND, 0};
    bool mStream = false;               // not a regular file: may go live
    bool mCreated = false;              // open() made the file
    const char *mLiveCommand = nullptr; // see goLive()
    bool mToStdout = false;             // "-": the listing went to standard error
    bool mSaid = false;                 // the failure was said when it came
    std::string mPath;
    std::string mError; // why the first failed write failed
    std::string mComment;
    std::unique_ptr<PcapngWriter> mWriter;
    std::unique_ptr<Sink> mSinks[2];
    std::vector<unsigned char> mPacket; // the record being written
};

// Told the things a user must know while a command runs (the tap's
// application end), when someone besides standard error wants them: the
// extcap mode shows them in Wireshark. nullptr when nobody does.

#endif
