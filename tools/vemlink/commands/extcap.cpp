// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemlink extcap: vemlink as a Wireshark extcap program, so that Wireshark
// and tshark capture a link live through the interface "vemlink". Wireshark
// asks for the interface, its link type and its settings, then starts a
// capture into a FIFO and ends it with SIGTERM. The capture itself is
// tap, decode --device or monitor with --pcap into the FIFO.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "capture/capture.h"
#include "cli.h"
#include "commands/live.h"
#include "listing/output.h"
#include "serial/device.h"
#include "serial/line.h"

namespace {

const char *const USAGE =
    "usage: vemlink extcap --extcap-interfaces | --extcap-dlts | --extcap-config\n"
    "       vemlink extcap --capture --fifo FIFO --device PATH [--mode MODE]\n"
    "                      [--link PATH] [--device2 PATH] [--baud N]\n"
    "                      [--databits 5|6|7|8] [--parity P] [--stopbits 1|2]\n"
    "                      [--flow F] [--rtscts] [--seed N]\n"
    "                      [--to-device IMPAIRMENTS] [--to-app IMPAIRMENTS]\n"
    "\n"
    "Run by Wireshark through the extcap entry: --capture streams pcapng into\n"
    "FIFO until SIGTERM. MODE is tap (the default), listen or monitor. A tap\n"
    "impairs its directions with --to-device, --to-app and --seed as\n"
    "'vemlink tap' does.\n"
    "\n"
    "See vemlink(1), LOOKING AT A LINK IN WIRESHARK.\n";

// The extcap control protocol: a 'T', three bytes of length (big-endian),
// the control number, the command, the payload.
const unsigned char CONTROL_SET = 1;
const unsigned char CONTROL_STATUSBAR = 6;
// The one control: a text field in Wireshark's toolbar showing the
// application's end of a tap.
const unsigned char CONTROL_APP_END = 0;
// How long to wait for Wireshark to open its end of the control channel.
const int CONTROL_OPEN_MS = 5000;

int gControlOut = -1;

void sendControl(unsigned char number, unsigned char command, const std::string &payload)
{
    if (gControlOut < 0)
        return;
    const size_t len = payload.size() + 2;
    std::string message = "T";
    message += static_cast<char>(len >> 16);
    message += static_cast<char>(len >> 8);
    message += static_cast<char>(len);
    message += static_cast<char>(number);
    message += static_cast<char>(command);
    message += payload;
    // Small messages into a FIFO Wireshark reads: they fit, or are lost.
    if (write(gControlOut, message.data(), message.size()) < 0)
        output::error("extcap", std::string("control channel: ") + std::strerror(errno));
}

// The tap's application end, shown in Wireshark's toolbar.
void showAppEnd(const std::string &path)
{
    sendControl(CONTROL_APP_END, CONTROL_STATUSBAR, "vemlink: the application's end is " + path);
    sendControl(CONTROL_APP_END, CONTROL_SET, path);
}

// A line option as Wireshark passes it; an empty value (a field left
// blank) leaves the default. 1 taken, 0 not a line option, -1 a bad value.
int takeExtcapLine(int argc, char **argv, int &i, LinkOptions &link, std::string &error)
{
    const char *eq = std::strchr(argv[i], '=');
    if (eq != nullptr && eq[1] == '\0' && std::strncmp(argv[i], "--", 2) == 0)
        return takeLineOption(argc, argv, i, link.line, error) == 0 ? 0 : 1;
    if (i + 1 < argc && argv[i + 1][0] == '\0' && std::strncmp(argv[i], "--", 2) == 0) {
        // Whether it is a line option at all, asked of the option alone
        // with a stand-in value: j indexes pair, not argv.
        int j = 0;
        char *pair[] = {argv[i], const_cast<char *>("0")};
        LineSettings ignored;
        if (takeLineOption(2, pair, j, ignored, error) == 0)
            return 0;
        ++i;
        return 1;
    }
    const int taken = takeLineOption(argc, argv, i, link.line, error);
    if (taken > 0)
        link.lineGiven = true;
    return taken;
}

// Opens the write end of a FIFO whose reader may come a little later.
int openControlOut(const char *path)
{
    for (int waited = 0;; waited += 50) {
        const int fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != ENXIO || waited >= CONTROL_OPEN_MS)
            return fd;
        usleep(50 * 1000);
    }
}

void interfaces()
{
    std::printf("extcap {version=%s}{help=man:vemlink(1)}\n"
                "interface {value=vemlink}{display=vemlink: frames of an HDLC-like serial "
                "link}\n"
                "control {number=%d}{type=string}{display=Application's end}"
                "{tooltip=The pseudo-terminal a tap made for the application}\n",
                VEMLINK_VERSION, CONTROL_APP_END);
}

void dlts()
{
    std::puts("dlt {number=252}{name=WIRESHARK_UPPER_PDU}{display=vemlink frames}");
}

void config()
{
    std::puts("arg {number=0}{call=--device}{display=Device}{type=string}{required=true}"
              "{tooltip=The serial device: tapped, listened to, or adapter A of a monitor}\n"
              "arg {number=1}{call=--mode}{display=Mode}{type=selector}"
              "{tooltip=How vemlink reaches the link}\n"
              "value {arg=1}{value=tap}{display=tap: between an application and the "
              "device}{default=true}\n"
              "value {arg=1}{value=listen}{display=listen: the device's frames only}\n"
              "value {arg=1}{value=monitor}{display=monitor: two receive-only adapters}\n"
              "arg {number=2}{call=--link}{display=Application's end (tap)}{type=string}"
              "{tooltip=Also make this path a symbolic link to the application's end}\n"
              "arg {number=3}{call=--device2}{display=Second adapter (monitor)}{type=string}"
              "{tooltip=Adapter B: its frames are the < direction}\n"
              "arg {number=4}{call=--baud}{display=Baud rate}{type=selector}"
              "{tooltip=The link's rate; any other rate through vemlink itself}");
    std::string rates = commonRates() + " ";
    for (size_t at = 0, end; (end = rates.find(' ', at)) != std::string::npos; at = end + 1) {
        const std::string rate = rates.substr(at, end - at);
        std::printf("value {arg=4}{value=%s}{display=%s}%s\n", rate.c_str(), rate.c_str(),
                    rate == "115200" ? "{default=true}" : "");
    }
    std::puts("arg {number=5}{call=--databits}{display=Data bits}{type=selector}\n"
              "value {arg=5}{value=8}{display=8}{default=true}\n"
              "value {arg=5}{value=7}{display=7}\n"
              "value {arg=5}{value=6}{display=6}\n"
              "value {arg=5}{value=5}{display=5}\n"
              "arg {number=6}{call=--parity}{display=Parity}{type=selector}\n"
              "value {arg=6}{value=none}{display=none}{default=true}\n"
              "value {arg=6}{value=odd}{display=odd}\n"
              "value {arg=6}{value=even}{display=even}\n"
              "arg {number=7}{call=--stopbits}{display=Stop bits}{type=selector}\n"
              "value {arg=7}{value=1}{display=1}{default=true}\n"
              "value {arg=7}{value=2}{display=2}\n"
              "arg {number=8}{call=--flow}{display=Flow control}{type=selector}\n"
              "value {arg=8}{value=none}{display=none}{default=true}\n"
              "value {arg=8}{value=rtscts}{display=RTS/CTS}\n"
              "value {arg=8}{value=xonxoff}{display=XON/XOFF}\n"
              "arg {number=9}{call=--to-device}{display=Impair to the device (tap)}"
              "{type=string}{group=Impairments}"
              "{tooltip=What the application sends: e.g. loss 5% corrupt 2% (vemlink(1))}\n"
              "arg {number=10}{call=--to-app}{display=Impair to the application (tap)}"
              "{type=string}{group=Impairments}"
              "{tooltip=What the device sends: e.g. delay 20ms 5ms rate 9600 (vemlink(1))}\n"
              "arg {number=11}{call=--seed}{display=Seed (tap)}{type=string}"
              "{validation=^[0-9]*$}{group=Impairments}"
              "{tooltip=The impairments' random choices; blank: picked anew}");
}

// What the arguments ask for: one of Wireshark's questions, or a capture.
enum class Action { NONE, INTERFACES, DLTS, CONFIG, CAPTURE };
// How a capture reaches the link: 'vemlink tap', 'vemlink decode --device'
// or 'vemlink monitor'.
enum class Mode { TAP, LISTEN, MONITOR };

// What the arguments ask of the extcap entry.
struct ExtcapOptions {
    Action action = Action::NONE;
    Mode mode = Mode::TAP;
    LinkOptions link; // --device and the line options
    const char *fifo = nullptr;
    const char *device2 = nullptr;
    const char *linkPath = nullptr;
    const char *controlIn = nullptr;
    const char *controlOut = nullptr;
    // --to-device, --to-app and --seed as given (nullptr or empty: not),
    // and the tap's impairments read from them.
    const char *impairments[3] = {nullptr, nullptr, nullptr};
    TapOptions tap;
};

// The capture itself: the command of the mode, into the FIFO. Standard
// error carries errors only (Wireshark shows each line as one), and a
// reader that goes away (Wireshark stopped or died) ends it.
int capture(const ExtcapOptions &o)
{
    LiveHooks hooks;
    hooks.quiet = true;
    hooks.endWithCapture = true;
    if (o.mode == Mode::TAP) {
        TapOptions tap = o.tap;
        tap.link = o.link;
        tap.linkPath = o.linkPath != nullptr && *o.linkPath != '\0' ? o.linkPath : nullptr;
        tap.pcap = o.fifo;
        hooks.appEnd = showAppEnd;
        return runTap("tap", tap, hooks);
    }
    if (o.mode == Mode::MONITOR)
        return listMonitor("monitor", o.link, o.link.device, o.device2, true, o.fifo, hooks);
    const StopSignals stop;
    Capture capture;
    std::string error;
    if (!capture.open(o.fifo, o.link.device, stop, error))
        return stop.stopped() ? STATUS_OK : failure("decode", error);
    return listDevice("decode", o.link, true, false, capture, capture.sink('<'), stop, hooks);
}

// Sets action when arg names one; false for any other argument.
bool takeAction(const char *arg, Action &action)
{
    const struct {
        const char *option;
        Action action;
    } actions[] = {{"--extcap-interfaces", Action::INTERFACES},
                   {"--extcap-dlts", Action::DLTS},
                   {"--extcap-config", Action::CONFIG},
                   {"--capture", Action::CAPTURE}};
    for (const auto &a : actions) {
        if (std::strcmp(arg, a.option) == 0) {
            action = a.action;
            return true;
        }
    }
    return false;
}

// Sets mode when text names one; false for an unknown name.
bool modeNamed(const char *text, Mode &mode)
{
    const struct {
        const char *name;
        Mode mode;
    } modes[] = {{"tap", Mode::TAP}, {"listen", Mode::LISTEN}, {"monitor", Mode::MONITOR}};
    for (const auto &m : modes) {
        if (std::strcmp(text, m.name) == 0) {
            mode = m.mode;
            return true;
        }
    }
    return false;
}

// Takes argv[i] when it is one of the options with a value, --mode's into
// mode; Wireshark's own that vemlink has no use for are taken and ignored.
// 1 when taken, 0 for another argument, -1 with the reason in error for a
// missing value.
int takeExtcapValue(int argc, char **argv, int &i, ExtcapOptions &o, const char *&mode,
                    std::string &error)
{
    const char *ignored = nullptr;
    const struct {
        const char *option;
        const char **value;
    } valued[] = {{"--fifo", &o.fifo},
                  {"--device", &o.link.device},
                  {"--device2", &o.device2},
                  {"--mode", &mode},
                  {"--link", &o.linkPath},
                  {"--to-device", &o.impairments[0]},
                  {"--to-app", &o.impairments[1]},
                  {"--seed", &o.impairments[2]},
                  {"--extcap-control-in", &o.controlIn},
                  {"--extcap-control-out", &o.controlOut},
                  {"--extcap-interface", &ignored},
                  {"--extcap-version", &ignored},
                  {"--extcap-capture-filter", &ignored}};
    for (const auto &v : valued) {
        if (!takeValue(argc, argv, i, v.option, *v.value))
            continue;
        if (*v.value != nullptr)
            return 1;
        error = std::string(v.option) + " needs a value";
        return -1;
    }
    return 0;
}

// What a capture needs, checked once all the arguments are read; the name
// of the mode goes into o.mode, the tap's impairments into o.tap. -1 when
// everything is there, else STATUS_USAGE.
int checkCapture(const char *name, const char *mode, ExtcapOptions &o)
{
    if (o.fifo == nullptr)
        return usageError(name, "--capture needs --fifo");
    if (o.link.device == nullptr || *o.link.device == '\0')
        return usageError(name, "--capture needs --device");
    const bool known = modeNamed(mode, o.mode);
    if (known && o.mode == Mode::MONITOR && (o.device2 == nullptr || *o.device2 == '\0'))
        return usageError(name, "monitor needs --device2");
    if (!known)
        return usageError(name, std::string("unknown mode '") + mode + "'; tap, listen, monitor");
    for (const char *given : o.impairments)
        if (o.mode != Mode::TAP && given != nullptr && *given != '\0')
            return usageError(name, "--to-device, --to-app and --seed go with the tap mode");
    return takeImpairments(name, o.impairments, o.tap);
}

// Reads the arguments into o. -1 when they are fine, else the exit status
// (help printed, or a usage error said).
int parseExtcap(int argc, char **argv, ExtcapOptions &o)
{
    const char *name = argv[0];
    const char *mode = "tap";
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (isHelp(arg)) {
            std::fputs(USAGE, stdout);
            return finishOutput(name);
        }
        if (takeAction(arg, o.action))
            continue;
        std::string error;
        int taken = takeExtcapLine(argc, argv, i, o.link, error);
        if (taken == 0)
            taken = takeExtcapValue(argc, argv, i, o, mode, error);
        if (taken < 0)
            return usageError(name, error);
        if (taken == 0)
            return usageError(name, std::string("unknown argument ") + arg);
    }
    if (o.action == Action::NONE)
        return usageError(name, "one of --extcap-interfaces, --extcap-dlts, --extcap-config, "
                                "--capture");
    return o.action == Action::CAPTURE ? checkCapture(name, mode, o) : -1;
}

// Opens Wireshark's control channel, when it gave one. Wireshark writes the
// controls' values into control-in; it is opened so that Wireshark is not
// kept waiting, and its messages are ignored. The descriptor of
// control-in, or -1.
int openControls(const char *name, const ExtcapOptions &o)
{
    int in = -1;
    if (o.controlIn != nullptr)
        in = open(o.controlIn, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (o.controlOut != nullptr) {
        gControlOut = openControlOut(o.controlOut);
        if (gControlOut < 0)
            output::error(name, std::string(o.controlOut) + ": " + std::strerror(errno));
    }
    return in;
}

// A capture for Wireshark, with its control channel.
int runCapture(const char *name, const ExtcapOptions &o)
{
    const int in = openControls(name, o);
    // Wireshark reads only the FIFO; the listing is not wanted.
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    const int status = capture(o);
    if (in >= 0)
        close(in);
    if (gControlOut >= 0)
        close(gControlOut);
    return status;
}

} // namespace

int runExtcap(int argc, char **argv)
{
    ExtcapOptions options;
    const int status = parseExtcap(argc, argv, options);
    if (status >= 0)
        return status;
    if (options.action == Action::CAPTURE)
        return runCapture(argv[0], options);
    if (options.action == Action::INTERFACES)
        interfaces();
    else if (options.action == Action::DLTS)
        dlts();
    else
        config();
    return finishOutput(argv[0]);
}
