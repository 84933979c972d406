// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemlink tap on pseudo-terminal pairs: the test plays the microcontroller
// on the device's master side and the application on the end the tap makes.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixture.h"

namespace live {
namespace {

// The listing of a tap, checked against what was sent each way: the
// statuses in order, each direction's rows the same as 'vemlink decode'
// lists for the bytes the tap saved, the files the bytes themselves.
TEST_F(Live, TapListsBothWaysLikeDecodeOfItsCaptures)
{
    Pty dev;
    const termios before = unusualSettings(dev.slave);

    const std::string prefix = path("cap");
    Child tap({"tap", dev.path, "--baud", "4000000", "--save", prefix}, path("listing"));
    const std::string appPath = startTap(tap, "listing");
    ASSERT_FALSE(appPath.empty());
    const int app = openApp(appPath);

    Bytes overlong = {0x7E};
    overlong.insert(overlong.end(), 1024, 'U'); // the 1024th unstuffed byte is discarded
    overlong.push_back(0x7E);
    Bytes corrupt = frame(text("abc"));
    corrupt[3] = 'd';
    Bytes dense = {0x7E, 0x7D, 0x7E, 0x7D, 0x7D, 0x7E, 0x20};
    Bytes tx = frame(text("get status"));
    append(tx, corrupt);
    append(tx, overlong);
    append(tx, frame(dense));
    tx.push_back(0x42); // left partial
    Bytes rx = frame(dense);
    append(rx, overlong);
    append(rx, frame(text("status ok")));
    append(rx, corrupt);

    // Both ways at once, in pieces.
    for (size_t i = 0; i < std::max(tx.size(), rx.size()); i += 500) {
        if (i < tx.size()) {
            EXPECT_TRUE(
                sendAll(app, Bytes(tx.begin() + i, tx.begin() + std::min(tx.size(), i + 500))));
        }
        if (i < rx.size()) {
            EXPECT_TRUE(sendAll(dev.master,
                                Bytes(rx.begin() + i, rx.begin() + std::min(rx.size(), i + 500))));
        }
    }
    EXPECT_EQ(receive(dev.master, tx.size()), tx) << "listing: the device got other bytes";
    EXPECT_EQ(receive(app, rx.size()), rx) << "listing: the application got other bytes";
    EXPECT_EQ(tap.stop(SIGTERM), 0) << "tap on SIGTERM";
    close(app);

    const std::string listing = tap.output();
    ASSERT_FALSE(lines(listing).empty());
    EXPECT_EQ(lines(listing).at(0), "      time    offset  length  status     data");
    const auto txRows = rowsOf(listing, '>');
    const auto rxRows = rowsOf(listing, '<');
    const std::vector<std::string> txWant = {"ok", "crc-error", "dropped", "ok", "partial"};
    const std::vector<std::string> rxWant = {"ok", "dropped", "ok", "crc-error"};
    std::vector<std::string> txGot, rxGot;
    for (const auto &r : txRows)
        txGot.push_back(status(r));
    for (const auto &r : rxRows)
        rxGot.push_back(status(r));
    EXPECT_EQ(txGot, txWant) << "tap statuses >:\n" << listing;
    EXPECT_EQ(rxGot, rxWant) << "tap statuses <:\n" << listing;
    const Summary t = summary(listing, " >");
    const Summary r = summary(listing, " <");
    EXPECT_TRUE(t.ok == 2 && t.crc == 1 && t.dropped == 1 && t.partial == 1 &&
                t.bytes == static_cast<long long>(tx.size()))
        << "tap summary >:\n"
        << listing;
    EXPECT_TRUE(r.ok == 2 && r.crc == 1 && r.dropped == 1 && r.partial == 0 &&
                r.bytes == static_cast<long long>(rx.size()))
        << "tap summary <:\n"
        << listing;

    // Saved bytes, and the same rows from decode.
    const std::string txSaved = readFile(prefix + ".tx");
    const std::string rxSaved = readFile(prefix + ".rx");
    EXPECT_EQ(Bytes(txSaved.begin(), txSaved.end()), tx) << "--save: PREFIX.tx";
    EXPECT_EQ(Bytes(rxSaved.begin(), rxSaved.end()), rx) << "--save: PREFIX.rx";
    for (const char *way : {"tx", "rx"}) {
        Child decode({"decode", prefix + "." + way}, path("decoded"));
        EXPECT_TRUE(decode.exited(EXIT_MS) && decode.status == 0) << "decode of the saved bytes";
        auto rows = lines(decode.output());
        ASSERT_GE(rows.size(), 2u);
        rows.erase(rows.begin());
        rows.pop_back();
        EXPECT_EQ(rows, way[0] == 't' ? txRows : rxRows)
            << "tap rows differ from decode of PREFIX." << way;
    }

    EXPECT_TRUE(settingsBack(dev.slave, before))
        << "the tap did not put the device's settings back";
}

// More than a MiB each way at once, both directions moving together; nothing
// added, lost or reordered, and every intact frame listed.
TEST_F(Live, TapCarriesLoadBothWaysAndListsEveryFrame)
{
    const size_t bytes = 3 << 19; // 1.5 MiB
    Pty dev;
    long txGood = 0;
    long rxGood = 0;
    const Bytes tx = traffic(1, bytes, txGood);
    const Bytes rx = traffic(2, bytes, rxGood);
    Child tap({"tap", dev.path, "--save", path("load")}, path("load"));
    const std::string appPath = startTap(tap, "load");
    ASSERT_FALSE(appPath.empty());
    const int app = openApp(appPath);
    Way a{app, dev.master, tx};
    Way b{dev.master, app, rx};
    pump(a, b);
    EXPECT_TRUE(a.got == tx) << "load: the device got " << a.got.size() << " bytes, not the "
                             << tx.size() << " sent, or other bytes";
    EXPECT_TRUE(b.got == rx) << "load: the application got " << b.got.size() << " bytes, not the "
                             << rx.size() << " sent, or other bytes";
    EXPECT_EQ(tap.stop(SIGINT), 0) << "tap on SIGINT";
    close(app);
    const std::string listing = tap.output();
    const Summary t = summary(listing, " >");
    const Summary r = summary(listing, " <");
    EXPECT_TRUE(t.ok == txGood && t.bytes == static_cast<long long>(tx.size()))
        << "load: summary > has ok " << t.ok << " of " << txGood << ", bytes " << t.bytes;
    EXPECT_TRUE(r.ok == rxGood && r.bytes == static_cast<long long>(rx.size()))
        << "load: summary < has ok " << r.ok << " of " << rxGood << ", bytes " << r.bytes;
    EXPECT_TRUE(t.crc > 0 && t.dropped > 0 && r.crc > 0 && r.dropped > 0)
        << "load: no crc-error or dropped frames listed";
    EXPECT_EQ(readFile(path("load.tx")).size(), tx.size()) << "load: PREFIX.tx is not complete";
}

// The application closes its end and opens it again, through the --link
// path; the tap stays, forwards, and does not spin while nobody holds it.
// Then the device hangs up: with --no-reconnect, the summary and exit
// status 1.
TEST_F(Live, TapKeepsApplicationEndThenEndsAtHangUp)
{
    Pty dev;
    const std::string link = path("ttyAPP");
    Child tap({"tap", "--device", dev.path, "--link", link, "--no-reconnect"}, path("reopen"));
    ASSERT_FALSE(startTap(tap, "reopen").empty());
    int app = openApp(link);
    EXPECT_TRUE(sendAll(app, frame(text("one"))));
    EXPECT_EQ(receive(dev.master, 7), frame(text("one"))) << "reopen: first frame not forwarded";
    close(app);

    // A tap that spins takes most of a core; one that waits, next to none.
    pause(200);
    const double cpu = tap.cpuSeconds();
    pause(1000);
    const double busy = tap.cpuSeconds() - cpu;
    EXPECT_LT(busy, 0.5) << "reopen: the tap used " << busy
                         << " s of CPU in 1 s while the application was away";

    app = openApp(link);
    EXPECT_TRUE(sendAll(app, frame(text("two"))));
    EXPECT_EQ(receive(dev.master, 7), frame(text("two"))) << "reopen: frame after reopening lost";
    EXPECT_TRUE(sendAll(dev.master, frame(text("back"))));
    EXPECT_EQ(receive(app, 8), frame(text("back"))) << "reopen: reply after reopening lost";
    close(app);

    dev.hangUp();
    EXPECT_TRUE(tap.exited(EXIT_MS) && tap.status == 1)
        << "hang-up: exit status " << tap.status << ", not 1";
    EXPECT_NE(tap.errText.find("hang-up"), std::string::npos)
        << "hang-up not said: " << tap.errText;
    const std::string listing = tap.output();
    EXPECT_TRUE(summary(listing, " >").ok == 2 && summary(listing, " <").ok == 1)
        << "hang-up: summary wrong:\n"
        << listing;
    EXPECT_NE(access(link.c_str(), F_OK), 0) << "the tap left its --link behind";
}

// A listing nobody reads: standard output a pipe that is never read. The
// link still carries every byte both ways, the tap says it drops lines, and
// it still ends at once on SIGTERM, counting what it did not show.
TEST_F(Live, TapForwardsAllWhileNobodyReadsTheListing)
{
    // Under an emulator every byte costs more; a smaller load shows the same.
    const size_t bytes = emulated() ? 1 << 20 : 3 << 19;
    Pty dev;
    int pipeFd[2];
    ASSERT_EQ(pipe2(pipeFd, O_CLOEXEC), 0);
    long txGood = 0;
    long rxGood = 0;
    const Bytes tx = traffic(3, bytes, txGood);
    const Bytes rx = traffic(4, bytes, rxGood);
    Child tap({"tap", dev.path}, "/dev/null", "/dev/null", pipeFd[1]);
    close(pipeFd[1]);
    const std::string appPath = startTap(tap, "stuck listing");
    if (!appPath.empty()) {
        const int app = openApp(appPath);
        Way a{app, dev.master, tx};
        Way b{dev.master, app, rx};
        pump(a, b);
        EXPECT_TRUE(a.got == tx) << "stuck listing: the device got " << a.got.size()
                                 << " bytes, not the " << tx.size() << " sent";
        EXPECT_TRUE(b.got == rx) << "stuck listing: the application got " << b.got.size()
                                 << " bytes, not the " << rx.size() << " sent";
        EXPECT_EQ(tap.stop(SIGTERM), 0) << "stuck listing: SIGTERM";
        EXPECT_NE(tap.errText.find("standard output fell behind; dropping"), std::string::npos)
            << "stuck listing: no word of dropped lines: " << tap.errText;
        EXPECT_NE(tap.errText.find(" lines not shown: standard output fell behind"),
                  std::string::npos)
            << "stuck listing: no count of the lines not shown: " << tap.errText;
        close(app);
    }
    close(pipeFd[0]);
}

// The ends a session meets: the terminal closes (SIGHUP) or the reader of
// the listing quits (EPIPE). Either way the capture files hold every byte
// forwarded, written through while the tap ran, mode 0600; the link is
// gone; the device has its earlier settings back.
struct Ending {
    const char *name;
    bool readerQuits; // else SIGHUP
    int status;
};

class TapEnding : public Live, public ::testing::WithParamInterface<Ending> {};

TEST_P(TapEnding, CapturesHoldAllAndDeviceSettingsComeBack)
{
    const Ending &c = GetParam();
    const std::string what = c.name;
    Pty dev;
    const termios before = unusualSettings(dev.slave);
    const std::string prefix = path("end");
    const std::string link = path("ttyEND");
    int pipeFd[2];
    ASSERT_EQ(pipe2(pipeFd, O_CLOEXEC), 0);
    Child tap({"tap", dev.path, "--save", prefix, "--link", link}, prefix + ".out", "/dev/null",
              c.readerQuits ? pipeFd[1] : -1);
    close(pipeFd[1]);
    if (c.readerQuits) {
        // Sees the column heads, then goes, as 'head -1' does.
        const Bytes heads = receive(pipeFd[0], 10);
        EXPECT_EQ(heads.size(), 10u) << what << ": no column heads on the pipe";
    }
    close(pipeFd[0]);
    ASSERT_FALSE(startTap(tap, what).empty());
    const int app = openApp(link);
    const Bytes tx = frame(text("login: root"));
    const Bytes rx = frame(text("Password:"));
    EXPECT_TRUE(sendAll(app, tx));
    const Bytes gotTx = receive(dev.master, tx.size());
    EXPECT_EQ(gotTx, tx) << what << ": the device got other bytes";
    if (!c.readerQuits) {
        EXPECT_TRUE(sendAll(dev.master, rx));
        EXPECT_EQ(receive(app, rx.size()), rx) << what << ": the application got other bytes";
        // Written through: in the files while the tap runs.
        EXPECT_TRUE(waitFor([&]() {
            return fileSize(prefix + ".tx") == static_cast<long long>(tx.size()) &&
                   fileSize(prefix + ".rx") == static_cast<long long>(rx.size());
        })) << what
            << ": the captures do not hold the bytes while the tap runs";
        EXPECT_EQ(tap.stop(SIGHUP), c.status) << what << ": exit status";
    } else {
        EXPECT_TRUE(tap.exited(EXIT_MS) && tap.status == c.status)
            << what << ": exit status " << tap.status;
        EXPECT_NE(tap.errText.find("standard output was closed"), std::string::npos)
            << what << ": no message: " << tap.errText;
    }
    close(app);
    const std::string savedTx = readFile(prefix + ".tx");
    EXPECT_EQ(Bytes(savedTx.begin(), savedTx.end()), gotTx)
        << what << ": PREFIX.tx does not hold the bytes forwarded";
    if (!c.readerQuits) {
        const std::string savedRx = readFile(prefix + ".rx");
        EXPECT_EQ(Bytes(savedRx.begin(), savedRx.end()), rx)
            << what << ": PREFIX.rx does not hold the bytes forwarded";
    }
    struct stat st {};
    EXPECT_TRUE(stat((prefix + ".tx").c_str(), &st) == 0 && (st.st_mode & 0777) == 0600)
        << what << ": PREFIX.tx is not mode 0600";
    struct stat gone {};
    EXPECT_NE(lstat(link.c_str(), &gone), 0) << what << ": the link was left behind";
    EXPECT_TRUE(settingsBack(dev.slave, before)) << what << ": the device's settings are not back";
}

INSTANTIATE_TEST_SUITE_P(Live, TapEnding,
                         ::testing::Values(Ending{"sighup", false, 0},
                                           Ending{"reader_quits", true, 1}),
                         [](const auto &info) { return std::string(info.param.name); });

// A full disk under --save: said at once, the forwarding goes on, exit
// status 1 at the end. Needs a small tmpfs; skipped where none can be
// mounted.
TEST_F(Live, TapSaysFullDiskAndGoesOn)
{
    const std::string disk = path("disk");
    mkdir(disk.c_str(), 0700);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "full disk: cannot mount a small tmpfs here: " << std::strerror(errno);
    {
        Pty dev;
        Child tap({"tap", dev.path, "--save", disk + "/cap"}, path("full"));
        const std::string appPath = startTap(tap, "full disk");
        if (!appPath.empty()) {
            const int app = openApp(appPath);
            long good = 0;
            const Bytes tx = traffic(5, 300 * 1024, good);
            const Bytes none;
            Way a{app, dev.master, tx};
            Way b{dev.master, app, none};
            pump(a, b);
            EXPECT_TRUE(a.got == tx) << "full disk: the device got " << a.got.size()
                                     << " bytes, not the " << tx.size() << " sent";
            EXPECT_TRUE(said(tap, "No space left", STALL_MS))
                << "full disk: not said while the tap runs: " << tap.errText;
            EXPECT_EQ(tap.stop(SIGTERM), 1) << "full disk: exit status";
            close(app);
        }
    }
    umount(disk.c_str());
}

} // namespace
} // namespace live
