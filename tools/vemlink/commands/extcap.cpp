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
    "                      [--flow F] [--rtscts]\n"
    "                      [--to-device SPEC] [--to-app SPEC] [--seed N]\n"
    "\n"
    "The extcap side of vemlink, run by Wireshark through the entry the vemlink\n"
    "package installs in Wireshark's extcap folder. --capture streams pcapng\n"
    "into FIFO until SIGTERM. MODE is tap (default: 'vemlink tap PATH'), listen\n"
    "('vemlink decode --device PATH') or monitor ('vemlink monitor PATH\n"
    "DEVICE2'). tshark passes the settings as -o extcap.vemlink.device:PATH,\n"
    "-o extcap.vemlink.mode:tap and so on. A tap impairs its directions with\n"
    "--to-device, --to-app and --seed as 'vemlink tap' does.\n";

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
        int j = i;
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

// The capture itself: the command of the mode, into the FIFO. Standard
// error carries errors only (Wireshark shows each line as one), and a
// reader that goes away (Wireshark stopped or died) ends it.
int capture(const char *mode, const LinkOptions &link, const char *device2, const char *linkPath,
            const char *fifo, const char *const impairments[3])
{
    const bool tapMode = std::strcmp(mode, "tap") == 0;
    for (int i = 0; i < 3; ++i)
        if (!tapMode && impairments[i] != nullptr && *impairments[i] != '\0')
            return usageError("extcap", "--to-device, --to-app and --seed go with the tap mode");
    LiveHooks hooks;
    hooks.quiet = true;
    hooks.endWithCapture = true;
    if (tapMode) {
        TapOptions tap;
        const int status = takeImpairments("extcap", impairments, tap);
        if (status >= 0)
            return status;
        tap.link = link;
        tap.linkPath = linkPath != nullptr && *linkPath != '\0' ? linkPath : nullptr;
        tap.pcap = fifo;
        hooks.appEnd = showAppEnd;
        return runTap("tap", tap, hooks);
    }
    if (std::strcmp(mode, "monitor") == 0)
        return listMonitor("monitor", link, link.device, device2, true, fifo, hooks);
    const StopSignals stop;
    Capture capture;
    std::string error;
    if (!capture.open(fifo, link.device, stop, error))
        return stop.stopped() ? STATUS_OK : failure("decode", error);
    return listDevice("decode", link, true, false, capture, capture.sink('<'), stop, hooks);
}

} // namespace

int runExtcap(int argc, char **argv)
{
    const char *name = argv[0];
    enum { NONE, INTERFACES, DLTS, CONFIG, CAPTURE } what = NONE;
    const char *fifo = nullptr;
    const char *device = nullptr;
    const char *device2 = nullptr;
    const char *mode = "tap";
    const char *linkPath = nullptr;
    LinkOptions link;
    const char *controlIn = nullptr;
    const char *controlOut = nullptr;
    const char *ignored = nullptr;
    const char *impairments[3] = {nullptr, nullptr, nullptr};
    // The options with a value; Wireshark's own that vemlink has no use for
    // go to ignored.
    const struct {
        const char *option;
        const char **value;
    } valued[] = {{"--fifo", &fifo},
                  {"--device", &device},
                  {"--device2", &device2},
                  {"--mode", &mode},
                  {"--link", &linkPath},
                  {"--to-device", &impairments[0]},
                  {"--to-app", &impairments[1]},
                  {"--seed", &impairments[2]},
                  {"--extcap-control-in", &controlIn},
                  {"--extcap-control-out", &controlOut},
                  {"--extcap-interface", &ignored},
                  {"--extcap-version", &ignored},
                  {"--extcap-capture-filter", &ignored}};
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (isHelp(arg)) {
            std::fputs(USAGE, stdout);
            return finishOutput(name);
        }
        if (std::strcmp(arg, "--extcap-interfaces") == 0)
            what = INTERFACES;
        else if (std::strcmp(arg, "--extcap-dlts") == 0)
            what = DLTS;
        else if (std::strcmp(arg, "--extcap-config") == 0)
            what = CONFIG;
        else if (std::strcmp(arg, "--capture") == 0)
            what = CAPTURE;
        else {
            std::string error;
            const int line = takeExtcapLine(argc, argv, i, link, error);
            if (line < 0)
                return usageError(name, error);
            if (line > 0)
                continue;
            bool taken = false;
            for (const auto &v : valued) {
                if (!takeValue(argc, argv, i, v.option, *v.value))
                    continue;
                if (*v.value == nullptr)
                    return usageError(name, std::string(v.option) + " needs a value");
                taken = true;
                break;
            }
            if (!taken)
                return usageError(name, std::string("unknown argument ") + arg);
        }
    }
    switch (what) {
    case INTERFACES:
        interfaces();
        return finishOutput(name);
    case DLTS:
        dlts();
        return finishOutput(name);
    case CONFIG:
        config();
        return finishOutput(name);
    case NONE:
        return usageError(name, "one of --extcap-interfaces, --extcap-dlts, --extcap-config, "
                                "--capture");
    case CAPTURE:
        break;
    }

    if (fifo == nullptr)
        return usageError(name, "--capture needs --fifo");
    if (device == nullptr || *device == '\0')
        return usageError(name, "--capture needs --device");
    link.device = device;
    if (std::strcmp(mode, "monitor") == 0 && (device2 == nullptr || *device2 == '\0'))
        return usageError(name, "monitor needs --device2");
    if (std::strcmp(mode, "tap") != 0 && std::strcmp(mode, "listen") != 0 &&
        std::strcmp(mode, "monitor") != 0)
        return usageError(name, std::string("unknown mode '") + mode + "'; tap, listen, monitor");

    // Wireshark writes the controls' values into control-in; it is opened
    // so that Wireshark is not kept waiting, and its messages are ignored.
    int in = -1;
    if (controlIn != nullptr)
        in = open(controlIn, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (controlOut != nullptr) {
        gControlOut = openControlOut(controlOut);
        if (gControlOut < 0)
            output::error(name, std::string(controlOut) + ": " + std::strerror(errno));
    }
    // Wireshark reads only the FIFO; the listing is not wanted.
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    const int status = capture(mode, link, device2, linkPath, fifo, impairments);
    if (in >= 0)
        close(in);
    if (gControlOut >= 0)
        close(gControlOut);
    return status;
}
