// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "capture/pcapng_reader.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "capture/pcapng.h"
#include "cli.h"

namespace {

using pcapng::BYTE_ORDER_MAGIC;
using pcapng::ENHANCED_PACKET;
using pcapng::INTERFACE_DESCRIPTION;
using pcapng::SECTION_HEADER;
const uint32_t OBSOLETE_PACKET = 2;
const uint32_t SIMPLE_PACKET = 3;
const uint16_t IF_TSRESOL = 9;
using pcapng::EXP_PDU_TAG_DISSECTOR_NAME;
using pcapng::LINKTYPE_WIRESHARK_UPPER_PDU;
using pcapng::RECORD_HEADER;

// One pass over a file's blocks. Each method returns false with the fault
// in mError, said in words that name the block by its offset in the file.
class Parser {
public:
    Parser(const std::vector<unsigned char> &bytes, std::vector<CaptureRecord> &records)
        : mBytes(bytes), mRecords(records)
    {
    }

    bool run();
    const std::string &error() const { return mError; }

private:
    bool block(size_t at);
    bool section(size_t at, size_t end);
    bool interface(size_t at, size_t end);
    bool packet(size_t at, size_t end);
    bool record(size_t at, const unsigned char *p, size_t n, CaptureRecord &r);
    bool tsresol(size_t at, size_t options, size_t end, long double &tickNs);

    uint32_t u16(size_t at) const
    {
        const unsigned a = mBytes[at], b = mBytes[at + 1];
        return mBig ? (a << 8 | b) : (b << 8 | a);
    }
    uint32_t u32(size_t at) const
    {
        return mBig ? (u16(at) << 16 | u16(at + 2)) : (u16(at + 2) << 16 | u16(at));
    }
    bool fail(size_t at, const std::string &what)
    {
        mError = "the block at offset " + std::to_string(at) + " " + what;
        return false;
    }

    const std::vector<unsigned char> &mBytes;
    std::vector<CaptureRecord> &mRecords;
    std::vector<long double> mTickNs; // per interface of the section
    bool mBig = false;
    bool mSection = false;
    std::string mError;
};

unsigned long long bigEndian(const unsigned char *p, int n)
{
    unsigned long long v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}

bool Parser::run()
{
    if (mBytes.size() < 12 || bigEndian(mBytes.data(), 4) != SECTION_HEADER) {
        mError = "not a pcapng file: it does not start with a section header block";
        return false;
    }
    for (size_t at = 0; at < mBytes.size();) {
        if (mBytes.size() - at < 12)
            return fail(at, "is truncated: " + std::to_string(mBytes.size() - at) +
                                " bytes left, less than a block's 12");
        if (!block(at))
            return false;
        at += u32(at + 4);
    }
    return true;
}

// Checks a block's frame (its lengths at both ends) and reads its body.
bool Parser::block(size_t at)
{
    const uint32_t type = bigEndian(&mBytes[at], 4);
    if (type == SECTION_HEADER) {
        const uint32_t magic = static_cast<uint32_t>(bigEndian(&mBytes[at + 8], 4));
        if (magic != BYTE_ORDER_MAGIC && magic != __builtin_bswap32(BYTE_ORDER_MAGIC))
            return fail(at, "is a section header with no byte-order magic");
        mBig = magic == BYTE_ORDER_MAGIC;
    }
    const size_t length = u32(at + 4);
    const size_t left = mBytes.size() - at;
    if (length < 12 || length % 4 != 0)
        return fail(at, "has a bad length, " + std::to_string(length));
    if (length > left)
        return fail(at, "is truncated: it says " + std::to_string(length) +
                            " bytes, the file has " + std::to_string(left) + " left");
    if (u32(at + length - 4) != length)
        return fail(at, "has lengths that disagree (" + std::to_string(length) + " and " +
                            std::to_string(u32(at + length - 4)) + ")");
    const size_t end = at + length - 4;
    switch (u32(at)) {
    case SECTION_HEADER:
        return section(at, end);
    case INTERFACE_DESCRIPTION:
        return interface(at, end);
    case ENHANCED_PACKET:
        return packet(at, end);
    case OBSOLETE_PACKET:
    case SIMPLE_PACKET:
        return fail(at, "is a packet block without an interface or a time (vemlink writes "
                        "enhanced packet blocks)");
    default:
        return true;
    }
}

bool Parser::section(size_t at, size_t end)
{
    if (end - at < 24)
        return fail(at, "is a section header too short for its fields");
    if (u16(at + 12) != 1)
        return fail(at, "is a section header of version " + std::to_string(u16(at + 12)) + "." +
                            std::to_string(u16(at + 14)) + "; vemlink reads 1.x");
    mTickNs.clear();
    mSection = true;
    return true;
}

bool Parser::interface(size_t at, size_t end)
{
    if (end - at < 16)
        return fail(at, "is an interface description too short for its fields");
    const uint32_t linkType = u16(at + 8);
    if (linkType != LINKTYPE_WIRESHARK_UPPER_PDU)
        return fail(at, "describes an interface of link type " + std::to_string(linkType) +
                            ", not 252 (Wireshark upper PDU) as vemlink writes");
    long double tickNs = 1000; // the microsecond
    if (!tsresol(at, at + 16, end, tickNs))
        return false;
    mTickNs.push_back(tickNs);
    return true;
}

// The interface's if_tsresol among its options, as nanoseconds per tick:
// a power of ten, or of two with the top bit set.
bool Parser::tsresol(size_t at, size_t options, size_t end, long double &tickNs)
{
    for (size_t o = options; o + 4 <= end;) {
        const uint32_t code = u16(o);
        const uint32_t len = u16(o + 2);
        if (code == 0)
            return true;
        if (o + 4 + len > end)
            return fail(at, "has an option that runs past its end");
        if (code == IF_TSRESOL && len >= 1) {
            const unsigned v = mBytes[o + 4];
            const unsigned exponent = v & 0x7F;
            if (exponent > 63)
                return fail(at, "has a time resolution out of range");
            tickNs = 1e9L;
            for (unsigned i = 0; i < exponent; ++i)
                tickNs /= (v & 0x80) != 0 ? 2 : 10;
        }
        o += 4 + ((len + 3) & ~3u);
    }
    return true;
}

bool Parser::packet(size_t at, size_t end)
{
    if (!mSection || end - at < 28)
        return fail(at, "is a packet block too short for its fields");
    const uint32_t id = u32(at + 8);
    if (id >= mTickNs.size())
        return fail(at, "is a packet of interface " + std::to_string(id) +
                            ", which the file does not describe before it");
    const size_t captured = u32(at + 20);
    if (captured > end - (at + 28))
        return fail(at, "is a packet whose captured length, " + std::to_string(captured) +
                            ", runs past its block");
    CaptureRecord r;
    const unsigned long long ticks =
        static_cast<unsigned long long>(u32(at + 12)) << 32 | u32(at + 16);
    r.timeNs = static_cast<long long>(static_cast<long double>(ticks) * mTickNs[id]);
    if (!record(at, &mBytes[at + 28], captured, r))
        return false;
    mRecords.push_back(std::move(r));
    return true;
}

// The exported-PDU tags naming the dissector, then the record header and
// the wire bytes.
bool Parser::record(size_t at, const unsigned char *p, size_t n, CaptureRecord &r)
{
    std::string dissector;
    size_t i = 0;
    for (;;) {
        if (n - i < 4)
            return fail(at, "is a packet whose tags run past its data");
        const unsigned long long tag = bigEndian(p + i, 2);
        const size_t len = bigEndian(p + i + 2, 2);
        i += 4;
        if (tag == 0)
            break;
        if (len > n - i)
            return fail(at, "is a packet whose tags run past its data");
        if (tag == EXP_PDU_TAG_DISSECTOR_NAME)
            dissector.assign(reinterpret_cast<const char *>(p + i),
                             strnlen(reinterpret_cast<const char *>(p + i), len));
        i += len;
    }
    if (dissector != pcapng::DISSECTOR)
        return fail(at, "is a packet for the dissector '" + dissector + "', not a vemlink record");
    if (n - i < RECORD_HEADER)
        return fail(at, "is a vemlink record cut short in its header");
    const unsigned char *h = p + i;
    if (h[0] != 1)
        return fail(at, "is a vemlink record of version " + std::to_string(h[0]) +
                            "; this vemlink reads 1");
    if (h[1] > static_cast<unsigned char>(frame::Outcome::PARTIAL) ||
        (h[2] != '>' && h[2] != '<') || h[3] != 0)
        return fail(at, "is a vemlink record with a bad status or direction");
    r.status = static_cast<frame::Outcome>(h[1]);
    r.direction = static_cast<char>(h[2]);
    r.offset = bigEndian(h + 4, 8);
    r.length = static_cast<uint32_t>(bigEndian(h + 12, 4));
    const size_t kept = n - i - RECORD_HEADER;
    if (kept > r.length)
        return fail(at, "is a vemlink record holding " + std::to_string(kept) +
                            " wire bytes but saying " + std::to_string(r.length));
    r.wire.assign(h + RECORD_HEADER, h + RECORD_HEADER + kept);
    return true;
}

} // namespace

bool parseCapture(const std::vector<unsigned char> &bytes, const std::string &name,
                  std::vector<CaptureRecord> &records, std::string &error)
{
    Parser parser(bytes, records);
    if (parser.run())
        return true;
    error = name + ": " + parser.error();
    return false;
}

bool readCapture(const char *path, std::vector<CaptureRecord> &records, std::string &error)
{
    const int fd = openInput(path);
    std::vector<unsigned char> bytes;
    const bool read = fd >= 0 && readAll(fd, bytes);
    const int readError = errno;
    if (fd > STDIN_FILENO)
        close(fd);
    if (!read) {
        error = std::string("cannot read ") + path + ": " + std::strerror(readError);
        return false;
    }
    return parseCapture(bytes, path, records, error);
}
