// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_HDLC_H
#define VEMUTILS_HDLC_H

// Asynchronous HDLC-like framing over a byte-stream link: octet stuffing as
// in RFC 1662 and the FCS-16 of cCrc. The payload is opaque; no address,
// control or protocol fields are added.
//
// Wire format: 7E, payload, FCS low byte, FCS high byte, 7E. Every 7E or 7D
// in the payload or FCS is sent as 7D followed by the byte XOR 20; all other
// values pass unchanged. The receiver takes one byte per call, accepts a flag
// shared between two frames and any run of flags, and delivers frames of 2 to
// 1023 unstuffed bytes between flags, that is 0 to 1021 payload bytes.
//
// The object allocates nothing and owns only its receive state. frameData and
// stuff_byte read no member state; unFrameByte, reset_rx and reset change
// the receive state and must be serialised by the caller. Pointer arguments
// and room in the caller's buffers are not checked.
//
// Logs through cVemlog under the category "cHDLCFramer": "Creating Framer"
// at info level on construction, "Frame Received\n" and "RX Crc Error\n" at
// debug level for frames that end.
#include "vemlog.h"

class cHDLC : public cVemlog {
public:
    static const unsigned char HDLC_FLAG = 0x7E;
    static const unsigned char HDLC_ESC = 0x7D;
    static const unsigned char HDLC_XOR = 0x20;

    cHDLC();

    // Discards any partly received frame and any pending escape.
    void reset_rx();
    // Same as reset_rx.
    void reset();

    // Writes b to out stuffed: 7D, b ^ 20 for 7D and 7E (returns 2), else b
    // (returns 1). out needs room for 2 bytes.
    int stuff_byte(unsigned char b, unsigned char *out);

    // Builds one whole frame from len bytes at src (len <= 0: empty payload)
    // into dst and stores the frame's length in *outLen. dst needs room for
    // 2 * max(len, 0) + 6 bytes. The receive state is not touched.
    virtual void frameData(unsigned char *src, int len, unsigned char *dst, int *outLen);

    // Consumes one received byte. Returns true exactly when b is a closing
    // flag ending a frame whose FCS checks: the frame's bytes (payload and
    // both FCS bytes) are then in dst and the payload length, 0 to 1021, in
    // *outLen. dst needs room for 1023 bytes. A frame failing the FCS check
    // returns false and leaves dst and *outLen untouched; every other byte
    // returns false with *outLen = 0. A frame reaching 1024 unstuffed bytes
    // is discarded silently and collection starts afresh.
    virtual bool unFrameByte(unsigned char b, unsigned char *dst, int *outLen);

protected:
    // Unstuffed bytes of the frame being received, FCS bytes included; a frame
    // is dropped when its 1024th byte would be kept.
    unsigned char mRxBuffer[1024];
    int mRxLength;            // bytes held in mRxBuffer
    unsigned char mRxEscaped; // a 7D came last: XOR the next byte with 20
    unsigned short mRxCrc;    // FCS-16 register over the bytes held
};

#endif
