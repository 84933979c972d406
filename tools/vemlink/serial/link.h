// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_LINK_H
#define VEMLINK_LINK_H

// A pseudo-terminal pair used as a serial-like byte link. Bytes written to
// the sending end (the master) come out of the receiving end (the slave, the
// side a host opens as its serial device) in order and unchanged: the line
// discipline is set raw, so nothing is translated, echoed, cut to 7 bits or
// taken for flow control. Nothing is lost either: when the line's buffer is
// full, writing waits (here: fails with EAGAIN) until the reader catches up.
// Both ends are non-blocking, to be driven with poll(); both close with the
// object.
#include <string>

class PtyLink {
public:
    PtyLink() = default;
    PtyLink(const PtyLink &) = delete;
    PtyLink &operator=(const PtyLink &) = delete;
    ~PtyLink();

    // Opens the pair; false with the failing step and its reason in error.
    bool open(std::string &error);

    // Packet mode (TIOCPKT) on the sending end, EXTPROC on the receiving
    // end: from now on every read from the sending end starts with one
    // byte, TIOCPKT_DATA (0) before data, or alone a change of state;
    // TIOCPKT_IOCTL says that the receiving end's settings changed. False
    // when the terminal refuses.
    bool watchSettings();

    // Closes this program's hold on the receiving end, so that the sending
    // end reads POLLHUP whenever no other program holds it open: how a
    // program that waits for the other side to open its end sees it come.
    // The line's settings stay while the sending end is open.
    void releaseReceiver();

    int sender() const { return mMaster; }
    int receiver() const { return mSlave; }
    // The receiving end's device path, for example /dev/pts/3.
    const std::string &name() const { return mName; }

private:
    int mMaster = -1;
    int mSlave = -1;
    std::string mName;
};

#endif
