// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "serial/line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "serial/anyrate.h"
#include "cli.h"

namespace {

struct Rate {
    long baud;
    speed_t speed;
};

// The rates <termios.h> names; any other goes through termios2.
const Rate RATES[] = {
    {50, B50},           {75, B75},           {110, B110},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},
    {1800, B1800},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
    {4000000, B4000000},
};

// The highest rate --baud takes: far above any UART, and within a 32-bit
// long. The driver decides which rates below it it can make.
const long MAX_BAUD = 100000000;

// How far the rate a driver reports may be from the one asked for and still
// count as set: a UART frame tolerates about 2 %.
const long RATE_TOLERANCE_PERCENT = 2;

// Usage texts keep to this many columns.
const size_t USAGE_WIDTH = 78;

struct Choice {
    const char *word;
    int value;
};

const Choice DATA_BITS[] = {{"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}};
const Choice PARITIES[] = {{"none", LineSettings::PARITY_NONE},
                           {"odd", LineSettings::PARITY_ODD},
                           {"even", LineSettings::PARITY_EVEN}};
const Choice STOP_BITS[] = {{"1", 1}, {"2", 2}};
const Choice FLOWS[] = {{"none", LineSettings::FLOW_NONE},
                        {"rtscts", LineSettings::FLOW_RTSCTS},
                        {"xonxoff", LineSettings::FLOW_XONXOFF}};

// The options with a fixed set of values, for parsing and for the usage.
struct LineOption {
    const char *name;
    int LineSettings::*field;
    const Choice *choices;
    size_t count;
    const char *what;
};

const LineOption OPTIONS[] = {
    {"--databits", &LineSettings::dataBits, DATA_BITS, 4, "bits per character, default 8"},
    {"--parity", &LineSettings::parity, PARITIES, 3, "the parity bit, default none"},
    {"--stopbits", &LineSettings::stopBits, STOP_BITS, 2, "stop bits, default 1"},
    {"--flow", &LineSettings::flow, FLOWS, 3, "default none; --rtscts is --flow rtscts"},
};

const char *const BAUD_WHAT = "any rate the driver takes, default 115200";

std::string choices(const LineOption &o, const char *between)
{
    std::string list;
    for (size_t k = 0; k < o.count; ++k)
        list += (k == 0 ? "" : between) + std::string(o.choices[k].word);
    return list;
}

const Rate *findRate(long baud)
{
    for (const Rate &r : RATES)
        if (r.baud == baud)
            return &r;
    return nullptr;
}

long rateOf(speed_t speed)
{
    for (const Rate &r : RATES)
        if (r.speed == speed)
            return r.baud;
    return 0;
}

// One option of a usage text: its name at indent, its description from
// column on, wrapped; on a line of its own when the name reaches the column.
std::string usageEntry(const std::string &indent, size_t column, const std::string &option,
                       const std::string &what)
{
    std::string out = indent + option;
    if (out.size() + 2 > column)
        out += "\n" + std::string(column, ' ');
    else
        out += std::string(column - out.size(), ' ');
    size_t lineLen = column;
    bool first = true;
    for (size_t at = 0; at < what.size();) {
        size_t end = what.find(' ', at);
        if (end == std::string::npos)
            end = what.size();
        const std::string word = what.substr(at, end - at);
        if (!first && lineLen + 1 + word.size() > USAGE_WIDTH) {
            out += "\n" + std::string(column, ' ');
            lineLen = column;
            first = true;
        }
        out += (first ? "" : " ") + word;
        lineLen += (first ? 0 : 1) + word.size();
        first = false;
        at = end + 1;
    }
    return out + "\n";
}

} // namespace

std::string describe(const LineSettings &line)
{
    static const char PARITY[] = {'N', 'O', 'E'};
    std::string text = std::to_string(line.baud) + " " + std::to_string(line.dataBits) +
                       PARITY[line.parity] + std::to_string(line.stopBits);
    if (line.flow == LineSettings::FLOW_RTSCTS)
        text += " rtscts";
    else if (line.flow == LineSettings::FLOW_XONXOFF)
        text += " xonxoff";
    return text;
}

bool toTermios(const LineSettings &line, termios &tio)
{
    static const tcflag_t SIZES[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= SIZES[line.dataBits - 5];
    if (line.parity != LineSettings::PARITY_NONE)
        tio.c_cflag |= PARENB | (line.parity == LineSettings::PARITY_ODD ? PARODD : 0);
    if (line.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (line.flow == LineSettings::FLOW_RTSCTS)
        tio.c_cflag |= CRTSCTS;
    else if (line.flow == LineSettings::FLOW_XONXOFF)
        tio.c_iflag |= IXON | IXOFF;
    const Rate *rate = findRate(line.baud);
    if (rate == nullptr)
        return false;
    cfsetispeed(&tio, rate->speed);
    cfsetospeed(&tio, rate->speed);
    return true;
}

bool applyLine(int fd, const char *path, const LineSettings &line, std::string &error)
{
    const std::string rate =
        "cannot set " + std::string(path) + " to " + std::to_string(line.baud) + " baud: ";
    termios tio{};
    if (tcgetattr(fd, &tio) < 0) {
        error = "cannot configure " + std::string(path) + ": " + std::strerror(errno);
        return false;
    }
    const bool standard = toTermios(line, tio);
    // EINVAL: a setting the driver did not take; glibc checks the data bits
    // and the parity, which a pseudo-terminal, for one, keeps at 8N.
    if (tcsetattr(fd, TCSANOW, &tio) < 0) {
        error = "cannot set " + std::string(path) + " to " + describe(line) + ": " +
                (errno == EINVAL ? "the driver does not take it" : std::strerror(errno));
        return false;
    }
    // Drivers take what they can and say nothing of the rest.
    const tcflag_t character = CSIZE | PARENB | CSTOPB | CRTSCTS;
    const tcflag_t want = tio.c_cflag & character;
    if (tcgetattr(fd, &tio) == 0 && (tio.c_cflag & character) != want) {
        error = "cannot set " + std::string(path) + " to " + describe(line) +
                ": the driver does not take it";
        return false;
    }
    if (!standard && setAnyRate(fd, static_cast<unsigned long>(line.baud)) < 0) {
        error = rate + std::strerror(errno);
        return false;
    }
    // A driver that cannot make a rate may keep its old one, or take the
    // nearest it has, without failing the call. 0: a rate that cannot be
    // read back here (an emulator that knows fewer B-constants).
    long got = getAnyRate(fd);
    if (got < 0 && tcgetattr(fd, &tio) == 0)
        got = rateOf(cfgetospeed(&tio));
    if (got > 0 && std::labs(got - line.baud) * 100 > line.baud * RATE_TOLERANCE_PERCENT) {
        error = rate + "the driver set " + std::to_string(got) + " baud instead";
        return false;
    }
    return true;
}

bool readLine(int fd, LineSettings &line, bool &extproc)
{
    termios tio{};
    if (tcgetattr(fd, &tio) < 0)
        return false;
    line.dataBits = 5 + static_cast<int>(((tio.c_cflag & CSIZE) - CS5) / (CS6 - CS5));
    line.parity = (tio.c_cflag & PARENB) == 0   ? LineSettings::PARITY_NONE
                  : (tio.c_cflag & PARODD) != 0 ? LineSettings::PARITY_ODD
                                                : LineSettings::PARITY_EVEN;
    line.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
    line.flow = (tio.c_cflag & CRTSCTS) != 0 ? LineSettings::FLOW_RTSCTS
                : (tio.c_iflag & IXON) != 0  ? LineSettings::FLOW_XONXOFF
                                             : LineSettings::FLOW_NONE;
    const long any = getAnyRate(fd);
    const long baud = any >= 0 ? any : rateOf(cfgetospeed(&tio));
    if (baud > 0)
        line.baud = baud;
    extproc = (tio.c_lflag & EXTPROC) != 0;
    return true;
}

int takeLineOption(int argc, char **argv, int &i, LineSettings &line, std::string &error)
{
    const char *value = nullptr;
    if (std::strcmp(argv[i], "--rtscts") == 0) {
        line.flow = LineSettings::FLOW_RTSCTS;
        return 1;
    }
    if (takeValue(argc, argv, i, "--baud", value)) {
        char *end = nullptr;
        errno = 0;
        const long baud = value == nullptr ? 0 : std::strtol(value, &end, 10);
        if (value == nullptr || *value < '0' || *value > '9' || *end != '\0' || errno != 0 ||
            baud < 1 || baud > MAX_BAUD) {
            error = "--baud takes a rate in baud, a whole number from 1 to " +
                    std::to_string(MAX_BAUD) +
                    (value == nullptr ? "" : ", not '" + std::string(value) + "'");
            return -1;
        }
        line.baud = baud;
        return 1;
    }
    for (const LineOption &o : OPTIONS) {
        if (!takeValue(argc, argv, i, o.name, value))
            continue;
        for (size_t k = 0; value != nullptr && k < o.count; ++k)
            if (std::strcmp(value, o.choices[k].word) == 0) {
                line.*o.field = o.choices[k].value;
                return 1;
            }
        error = std::string(o.name) + " takes " + choices(o, ", ") +
                (value == nullptr ? "" : ", not '" + std::string(value) + "'");
        return -1;
    }
    return 0;
}

std::string commonRates()
{
    std::string list;
    for (const Rate &r : RATES)
        if (r.baud >= 1200)
            list += (list.empty() ? "" : " ") + std::to_string(r.baud);
    return list;
}

std::string withLineOptions(const char *text)
{
    static const std::string MARK = "{LINE}";
    std::string out = text;
    const size_t at = out.find(MARK);
    if (at == std::string::npos)
        return out;
    const size_t lineStart = out.rfind('\n', at) + 1; // npos + 1 is 0
    const std::string indent(at - lineStart, ' ');
    // The descriptions start where those of the line before do.
    size_t column = 26;
    if (lineStart >= 2) {
        const size_t before = out.rfind('\n', lineStart - 2) + 1;
        const size_t gap = out.find("  ", before + indent.size());
        const size_t desc = out.find_first_not_of(' ', gap);
        if (gap < lineStart && desc < lineStart)
            column = desc - before;
    }
    std::string entries = usageEntry(indent, column, "--baud N", BAUD_WHAT);
    for (const LineOption &o : OPTIONS)
        entries += usageEntry(indent, column, std::string(o.name) + " " + choices(o, "|"), o.what);
    out.replace(lineStart, at + MARK.size() + 1 - lineStart, entries);
    return out;
}
