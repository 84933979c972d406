// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Devices that go away and come back under tap, decode --device and monitor.

#include <unistd.h>

#include "reconnect.h"

namespace live {
namespace {

struct ReconnectCase {
    const char *name;
    Kind kind;
    Away how;
};

class Reconnect : public Live, public ::testing::WithParamInterface<ReconnectCase> {};

// The device goes and comes back: the command says so, waits, and carries
// frames again afterwards; a tap keeps the application's end open and counts
// what the application wrote meanwhile; a monitor listens to its other
// device meanwhile; each device is locked again once back.
TEST_P(Reconnect, DeviceGoneAndBack)
{
    const ReconnectCase &c = GetParam();
    Linked l(c.kind, c.how, *this);
    ASSERT_TRUE(l.started()) << l.run->errText;
    for (size_t k = 0; k < l.plugs.size(); ++k)
        l.through(static_cast<int>(k), "first" + std::to_string(k));
    for (size_t k = 0; k < l.plugs.size(); ++k) {
        goneAndBack(l, static_cast<int>(k));
        // Back with its lock: another program is refused it.
        Child other({"decode", "--device", l.plugs[k]->path}, path("other"));
        EXPECT_TRUE(other.exited(EXIT_MS) && other.status == 1 &&
                    other.errText.find("is in use by another program") != std::string::npos)
            << l.plugs[k]->path << " not locked again: " << other.errText;
        for (size_t j = 0; j < l.plugs.size(); ++j)
            l.through(static_cast<int>(j), "again" + std::to_string(k) + std::to_string(j));
    }
    EXPECT_EQ(l.stop(), 0) << "exit status";
    const std::string listing = l.run->output();
    if (c.kind == Kind::TAP) {
        EXPECT_NE(listing.find("device gone 1 time; " + std::to_string(frame(text("lost")).size()) +
                               " bytes from the application dropped meanwhile"),
                  std::string::npos)
            << "the dropped bytes are not counted:\n"
            << listing;
        EXPECT_TRUE(summary(listing, " >").ok == l.toDevice[0] &&
                    summary(listing, " <").ok == l.toApp)
            << "summary wrong:\n"
            << listing;
    } else if (c.kind == Kind::DECODE) {
        EXPECT_EQ(summary(listing, "").ok, l.toDevice[0]) << "summary:\n" << listing;
    } else {
        EXPECT_TRUE(summary(listing, " >").ok == l.toDevice[0] &&
                    summary(listing, " <").ok == l.toDevice[1])
            << "summary wrong:\n"
            << listing;
        EXPECT_TRUE(listing.find("device gone 1 time on A (>)\n") != std::string::npos &&
                    listing.find("device gone 1 time on B (<)\n") != std::string::npos)
            << "the times gone are not counted:\n"
            << listing;
        // The frame B delivered while A was gone lies between A's two events.
        const size_t gone = listing.find("> device gone");
        const size_t meanwhile = listing.find("|meanwhile");
        EXPECT_TRUE(gone < meanwhile && meanwhile < listing.find("> device back"))
            << "B not listened to while A was gone:\n"
            << listing;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Live, Reconnect,
    ::testing::Values(ReconnectCase{"tap_adapter", Kind::TAP, Away::ADAPTER},
                      ReconnectCase{"tap_renamed", Kind::TAP, Away::RENAMED},
                      ReconnectCase{"decode_adapter", Kind::DECODE, Away::ADAPTER},
                      ReconnectCase{"decode_renamed", Kind::DECODE, Away::RENAMED},
                      ReconnectCase{"monitor_adapter", Kind::MONITOR, Away::ADAPTER},
                      ReconnectCase{"monitor_renamed", Kind::MONITOR, Away::RENAMED}),
    [](const auto &info) { return std::string(info.param.name); });

// With --no-reconnect the adapter pulled out ends the tap: the summary,
// exit status 1.
TEST_F(Live, TapNoReconnectEndsWhenTheAdapterGoes)
{
    Linked l(Kind::TAP, Away::ADAPTER, *this, {"--no-reconnect"});
    ASSERT_TRUE(l.started());
    EXPECT_TRUE(sendAll(l.app, frame(text("one"))));
    EXPECT_EQ(receive(l.plugs[0]->dev.master, 7), frame(text("one")))
        << "--no-reconnect: frame not forwarded";
    l.plugs[0]->pull();
    EXPECT_TRUE(l.run->exited(EXIT_MS) && l.run->status == 1 &&
                l.run->errText.find(l.plugs[0]->path + ": hang-up") != std::string::npos)
        << "--no-reconnect: exit status " << l.run->status << ": " << l.run->errText;
    EXPECT_EQ(summary(l.run->output(), " >").ok, 1) << "--no-reconnect: summary:\n"
                                                    << l.run->output();
}

// With --no-reconnect the first adapter that goes ends the monitor.
TEST_F(Live, MonitorNoReconnectEndsWhenAnAdapterGoes)
{
    Linked l(Kind::MONITOR, Away::ADAPTER, *this, {"--no-reconnect"});
    ASSERT_TRUE(l.started()) << "monitor --no-reconnect: no start: " << l.run->errText;
    l.through(0, "one");
    l.plugs[1]->pull();
    EXPECT_TRUE(l.run->exited(EXIT_MS) && l.run->status == 1 &&
                l.run->errText.find(l.plugs[1]->path + ": hang-up") != std::string::npos)
        << "monitor --no-reconnect: exit status " << l.run->status << ": " << l.run->errText;
    const std::string listing = l.run->output();
    EXPECT_TRUE(summary(listing, " >").ok == 1 && summary(listing, " <").ok == 0 &&
                listing.find("device gone") == std::string::npos)
        << "monitor --no-reconnect: summary:\n"
        << listing;
}

} // namespace
} // namespace live
