// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "workloads.h"

#include <boost/crc.hpp>
#include <ini.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "crc.h"
#include "textutils.h"

namespace bench {

Bytes randomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes out(n);
    for (unsigned char &b : out)
        b = static_cast<unsigned char>(byte(gen));
    return out;
}

Bytes payload(Payload kind, int len, unsigned seed)
{
    if (kind == Payload::AllFlags)
        return Bytes(static_cast<size_t>(len), cHDLC::HDLC_FLAG);
    return randomBytes(static_cast<size_t>(len), seed);
}

Bytes wireStream(Payload kind, int len, int *frames)
{
    cHDLC link;
    Bytes wire;
    Bytes frame(2 * static_cast<size_t>(len) + 6);
    *frames = 0;
    for (unsigned seed = 1; wire.size() < STREAM_BYTES; ++seed) {
        Bytes data = payload(kind, len, seed);
        int n = 0;
        link.frameData(data.data(), len, frame.data(), &n);
        wire.insert(wire.end(), frame.begin(), frame.begin() + n);
        ++*frames;
    }
    return wire;
}

namespace {

// The temporary properties file, removed when the program ends.
struct TempFile {
    std::string path;
    size_t bytes = 0;
    ~TempFile()
    {
        if (!path.empty())
            unlink(path.c_str());
    }
};

} // namespace

const char *propertiesFile(size_t *bytes)
{
    static TempFile file;
    if (file.path.empty()) {
        const char *dir = std::getenv("TMPDIR");
        std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/vemutils-bench-XXXXXX";
        const int fd = mkstemp(path.data());
        if (fd < 0) {
            std::perror("mkstemp");
            std::exit(1);
        }
        std::mt19937 gen(11);
        std::string text;
        for (int i = 0; i < PROPERTY_LINES; ++i) {
            // Keys are distinct (the line number is in them) but not sorted.
            const unsigned tag = static_cast<unsigned>(gen() % 1000);
            if (i % 100 == 99)
                text += "\n";
            else if (i % 50 == 49)
                text += "# settings of group " + std::to_string(tag) + "\n";
            else if (i % 3 == 0)
                text += "group" + std::to_string(tag) + ".limit" + std::to_string(i) + "=" +
                        std::to_string(gen() % 100000) + "\n";
            else
                text += "module" + std::to_string(tag) + ".path" + std::to_string(i) +
                        "=/var/lib/vem/data/" + std::to_string(gen()) + "/current\n";
        }
        if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            std::perror("write");
            std::exit(1);
        }
        close(fd);
        file.path = path;
        file.bytes = text.size();
    }
    *bytes = file.bytes;
    return file.path.c_str();
}

void freshHeap()
{
    malloc_trim(0);
}

std::string commaList()
{
    static const char chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::mt19937 gen(13);
    std::string list;
    for (int i = 0; i < LIST_TOKENS; ++i) {
        if (i > 0)
            list += ',';
        for (unsigned n = 1 + gen() % 12; n > 0; --n)
            list += chars[gen() % (sizeof chars - 1)];
    }
    return list;
}

} // namespace bench

namespace {

int inihKeep(void *user, const char * /* section */, const char *name, const char *value)
{
    static_cast<std::map<std::string, std::string> *>(user)->emplace(name, value);
    return 1;
}

} // namespace

namespace kernel {

__attribute__((noinline)) unsigned short crcVemutils(const unsigned char *p, size_t n)
{
    unsigned short crc = cCrc::INIT_CRC;
    for (const unsigned char *end = p + n; p != end; ++p)
        crc = cCrc::ccitt_crc16(*p, crc);
    return crc;
}

__attribute__((noinline)) unsigned short crcBoost(const unsigned char *p, size_t n)
{
    // the reflected CCITT polynomial, preset and final XOR 0xFFFF. Its
    // checksum is the FCS; undo the final XOR to compare registers.
    boost::crc_optimal<16, 0x1021, 0xFFFF, 0xFFFF, true, true> crc;
    crc.process_bytes(p, n);
    return static_cast<unsigned short>(~crc.checksum());
}

__attribute__((noinline)) unsigned short crcBitwise(const unsigned char *p, size_t n)
{
    unsigned crc = 0xFFFF;
    for (const unsigned char *end = p + n; p != end; ++p) {
        crc ^= *p;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
    }
    return static_cast<unsigned short>(crc);
}

__attribute__((noinline)) int frame(cHDLC &link, unsigned char *src, int len, unsigned char *dst)
{
    int n = 0;
    link.frameData(src, len, dst, &n);
    return n;
}

__attribute__((noinline)) int unframe(cHDLC &link, const unsigned char *wire, size_t n,
                                      unsigned char *dst)
{
    int frames = 0;
    int len = 0;
    for (size_t i = 0; i < n; ++i)
        frames += link.unFrameByte(wire[i], dst, &len);
    return frames;
}

__attribute__((noinline)) bool propertiesLoad(cProperties &props, const char *path)
{
    return props.load(path);
}

__attribute__((noinline)) bool inihLoad(std::map<std::string, std::string> &table, const char *path)
{
    table.clear();
    return ini_parse(path, inihKeep, &table) == 0;
}

__attribute__((noinline)) char **parseList(char *str, char sep)
{
    return cArgParser::parseList(str, sep);
}

__attribute__((noinline)) char **strsepList(char *str, char sep)
{
    const char delim[2] = {sep, '\0'};
    size_t n = 1;
    for (const char *p = str; *p != '\0'; ++p)
        n += *p == sep;
    char **list = new char *[n + 1];
    char **out = list;
    char *rest = str;
    while (char *token = strsep(&rest, delim))
        *out++ = token;
    *out = nullptr;
    return list;
}

} // namespace kernel
