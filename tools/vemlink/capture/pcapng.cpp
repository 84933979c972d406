// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "capture/pcapng.h"

namespace {

// Option codes of the pcapng format.
const uint16_t OPT_END = 0;
const uint16_t OPT_COMMENT = 1;
const uint16_t SHB_USERAPPL = 4;
const uint16_t IF_NAME = 2;
const uint16_t EPB_FLAGS = 2;

// A block under construction in a buffer that is reused from block to
// block; the fields go in little-endian.
class Block {
public:
    Block(std::vector<unsigned char> &buffer, uint32_t type) : mBytes(buffer)
    {
        mBytes.clear();
        put32(type);
        put32(0); // total length, set by finish()
    }

    void put16(uint16_t v)
    {
        mBytes.push_back(static_cast<unsigned char>(v));
        mBytes.push_back(static_cast<unsigned char>(v >> 8));
    }
    void put32(uint32_t v)
    {
        put16(static_cast<uint16_t>(v));
        put16(static_cast<uint16_t>(v >> 16));
    }
    void bytes(const unsigned char *p, size_t n)
    {
        mBytes.insert(mBytes.end(), p, p + n);
        mBytes.resize((mBytes.size() + 3) & ~static_cast<size_t>(3), 0);
    }
    void option(uint16_t code, const unsigned char *p, size_t n)
    {
        put16(code);
        put16(static_cast<uint16_t>(n));
        bytes(p, n);
    }
    void option(uint16_t code, const std::string &text)
    {
        option(code, reinterpret_cast<const unsigned char *>(text.data()), text.size());
    }

    // Ends the options and writes the total length at both ends.
    const std::vector<unsigned char> &finish()
    {
        put16(OPT_END);
        put16(0);
        const uint32_t total = static_cast<uint32_t>(mBytes.size() + 4);
        put32(total);
        for (int i = 0; i < 4; ++i)
            mBytes[4 + i] = static_cast<unsigned char>(total >> (8 * i));
        return mBytes;
    }

private:
    std::vector<unsigned char> &mBytes;
};

} // namespace

bool PcapngWriter::start(uint16_t linkType, const std::string &name, const std::string &application,
                         const std::string &comment)
{
    Block shb(mBlock, pcapng::SECTION_HEADER);
    shb.put32(pcapng::BYTE_ORDER_MAGIC);
    shb.put16(1); // version 1.0
    shb.put16(0);
    shb.put32(0xFFFFFFFF); // section length not known: -1
    shb.put32(0xFFFFFFFF);
    if (!comment.empty())
        shb.option(OPT_COMMENT, comment);
    shb.option(SHB_USERAPPL, application);
    if (!write(shb.finish()))
        return false;

    Block idb(mBlock, pcapng::INTERFACE_DESCRIPTION);
    idb.put16(linkType);
    idb.put16(0); // reserved
    idb.put32(0); // no snapshot length limit
    idb.option(IF_NAME, name);
    // No if_tsresol: the default resolution is the microsecond.
    return write(idb.finish());
}

bool PcapngWriter::packet(uint64_t timeUs, const unsigned char *data, size_t capturedLen,
                          size_t originalLen, uint32_t flags, const char *comment)
{
    Block epb(mBlock, pcapng::ENHANCED_PACKET);
    epb.put32(0); // interface 0
    epb.put32(static_cast<uint32_t>(timeUs >> 32));
    epb.put32(static_cast<uint32_t>(timeUs));
    epb.put32(static_cast<uint32_t>(capturedLen));
    epb.put32(static_cast<uint32_t>(originalLen));
    epb.bytes(data, capturedLen);
    if (flags != 0) {
        const unsigned char le[4] = {
            static_cast<unsigned char>(flags), static_cast<unsigned char>(flags >> 8),
            static_cast<unsigned char>(flags >> 16), static_cast<unsigned char>(flags >> 24)};
        epb.option(EPB_FLAGS, le, sizeof le);
    }
    if (comment != nullptr)
        epb.option(OPT_COMMENT, comment);
    return write(epb.finish());
}

bool PcapngWriter::write(const std::vector<unsigned char> &block)
{
    return mOut.put(block.data(), block.size());
}
