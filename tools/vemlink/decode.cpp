// vemlink decode: lists the frames in a capture of link bytes, the way a
// protocol analyser does, by running every byte through cHDLC::unFrameByte.
#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "cli.h"
#include "hdlc.h"
#include "hex.h"

namespace {

const char *const USAGE =
    "usage: vemlink decode [--hex] [FILE|-]\n"
    "\n"
    "Reads link bytes (a capture, a device, standard input with '-' or no\n"
    "FILE) and prints one line per frame: the offset of its opening flag,\n"
    "a length, the status and the data as hex and as text.\n"
    "\n"
    "  ok         a frame whose FCS checks; length and data are the payload\n"
    "  crc-error  the FCS check failed; length and data are the bytes between\n"
    "             the flags as they were on the wire, still stuffed\n"
    "  dropped    bytes between two flags of which the receiver kept nothing:\n"
    "             a frame over 1023 unstuffed bytes, or a lone 7D\n"
    "  partial    bytes after the last flag when the input ended\n"
    "\n"
    "A summary line follows the frames. Idle flags are not listed.\n"
    "\n"
    "  --hex      the input is hex text (as printed by vemlink encode), not raw\n";

// Bytes of a bad frame kept for its line: enough for the longest frame that
// could pass, every one of its 1023 bytes stuffed. Longer runs are cut.
const size_t WIRE_KEEP = 2 * 1023;

class Lister {
public:
    Lister() { std::puts("  offset  length  status     data"); }

    void feed(const unsigned char *p, size_t n)
    {
        for (const unsigned char *end = p + n; p != end; ++p, ++mOffset) {
            int len = LEN_UNTOUCHED;
            const bool ok = mFramer.unFrameByte(*p, mFrame, &len);
            if (*p != cHDLC::HDLC_FLAG) {
                if (mWireLen < WIRE_KEEP)
                    mWire[mWireLen] = *p;
                ++mWireLen;
                continue;
            }
            if (ok)
                row(mOk, "ok", mFrame, static_cast<size_t>(len));
            else if (len == LEN_UNTOUCHED)
                row(mCrcErrors, "crc-error", mWire, mWireLen);
            else if (mWireLen > 0)
                row(mDropped, "dropped", mWire, mWireLen);
            mStart = mOffset;
            mWireLen = 0;
        }
    }

    // Lists what is left after the last flag and prints the summary line.
    void finish()
    {
        if (mWireLen > 0)
            row(mPartial, "partial", mWire, mWireLen);
        std::printf("summary: frames %ld (ok %ld, crc-error %ld, dropped %ld, partial %ld), "
                    "bytes %lld\n",
                    mOk + mCrcErrors + mDropped + mPartial, mOk, mCrcErrors, mDropped, mPartial,
                    mOffset);
    }

private:
    // One line for a frame of len bytes; data holds at least the first
    // WIRE_KEEP of them, and any beyond those are marked as cut.
    void row(long &count, const char *status, const unsigned char *data, size_t len)
    {
        ++count;
        const size_t shown = len < WIRE_KEEP ? len : WIRE_KEEP;
        std::printf("%8lld  %6zu  %s", mStart, len, status);
        if (len > 0) {
            std::printf("%*s", static_cast<int>(11 - std::strlen(status)), "");
            printHex(stdout, data, shown);
            std::fputs(shown < len ? " ...  |" : "  |", stdout);
            printAscii(stdout, data, shown);
            std::fputc('|', stdout);
        }
        std::fputc('\n', stdout);
    }

    cHDLC mFramer;
    unsigned char mFrame[1023];     // room unFrameByte needs: payload and FCS
    unsigned char mWire[WIRE_KEEP]; // the first bytes since the last flag
    size_t mWireLen = 0;            // bytes since the last flag, kept or not
    long long mOffset = 0;          // offset of the next byte in the stream
    long long mStart = 0;           // offset of the frame's opening flag
    long mOk = 0;
    long mCrcErrors = 0;
    long mDropped = 0;
    long mPartial = 0;
};

} // namespace

int runDecode(int argc, char **argv)
{
    const char *name = argv[0];
    bool hex = false;
    const char *path = "-";
    int paths = 0;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (isHelp(arg)) {
            std::fputs(USAGE, stdout);
            return finishOutput(name);
        }
        if (std::strcmp(arg, "--hex") == 0)
            hex = true;
        else if (isOption(arg))
            return usageError(name, std::string("unknown option ") + arg);
        else if (++paths > 1)
            return usageError(name, "one input at a time");
        else
            path = arg;
    }

    const int fd = openInput(path);
    if (fd < 0)
        return failure(name, std::string(path) + ": " + std::strerror(errno));

    if (hex) {
        std::vector<unsigned char> text;
        std::vector<unsigned char> bytes;
        std::string error;
        if (!readAll(fd, text))
            return failure(name, std::string(path) + ": " + std::strerror(errno));
        if (!parseHex(reinterpret_cast<const char *>(text.data()), text.size(), bytes, error))
            return usageError(name, std::string(path) + ": bad hex: " + error);
        Lister lister;
        lister.feed(bytes.data(), bytes.size());
        lister.finish();
        return finishOutput(name);
    }

    // Raw input is listed as it arrives, so a live device shows frames at once.
    Lister lister;
    unsigned char chunk[4096];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failure(name, std::string(path) + ": " + std::strerror(errno));
        if (n == 0)
            break;
        lister.feed(chunk, static_cast<size_t>(n));
        std::fflush(stdout);
    }
    lister.finish();
    return finishOutput(name);
}
