// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// The paths a tap writes (--save, --link) and the devices others hold.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "fixture.h"

namespace live {
namespace {

// --save and --link onto paths that exist: refused with status 1 and a
// message naming the path, left as they were; --force replaces a regular
// capture only; a stale link of an earlier tap is taken over.
struct PathCase {
    const char *name;
    std::vector<std::string> args; // after "tap DEVICE"; P stands for the folder's p
    const char *made;              // the path the case sets up beforehand, under P
    enum { OLD_FILE, LINK_TO_TARGET, LINK_TO_DEVICE, LINK_TO_STALE } as;
    bool starts; // the tap runs; else refused naming made
};

class TapPaths : public Live, public ::testing::WithParamInterface<PathCase> {};

std::string stalePts()
{
    for (int i = 999; i < 1100; ++i)
        if (access(("/dev/pts/" + std::to_string(i)).c_str(), F_OK) != 0)
            return "/dev/pts/" + std::to_string(i);
    return "";
}

std::string readLink(const std::string &link)
{
    char now[256] = "";
    const ssize_t k = readlink(link.c_str(), now, sizeof now - 1);
    return k > 0 ? std::string(now, static_cast<size_t>(k)) : "";
}

TEST_P(TapPaths, RefusedOrTakenOver)
{
    const PathCase &c = GetParam();
    const std::string what = c.name;
    Pty dev;
    const std::string old = "613100 bytes of an earlier session";
    const std::string target = dir.write("target", "not a capture");
    const std::string file = dir.write("file", old);
    const std::string p = path("p");
    const std::string made = p + c.made;
    std::string as = old;
    if (c.as == PathCase::LINK_TO_TARGET)
        as = target;
    else if (c.as == PathCase::LINK_TO_DEVICE)
        as = dev.path;
    else if (c.as == PathCase::LINK_TO_STALE)
        as = stalePts();
    const bool link = c.as != PathCase::OLD_FILE;
    if (link) {
        ASSERT_EQ(symlink(as.c_str(), made.c_str()), 0) << what << ": symlink";
    } else
        dir.write(made.substr(dir.path().size() + 1), as);
    std::vector<std::string> args = {"tap", dev.path};
    for (const std::string &a : c.args)
        args.push_back(a == "P" ? p : a);
    Child tap(args, path("paths"));
    if (c.starts) {
        EXPECT_FALSE(startTap(tap, what).empty()) << what << ": the tap did not start";
        if (link) {
            EXPECT_TRUE(!readLink(made).empty() && readLink(made) != as)
                << what << ": the stale link was not taken over";
        } else {
            EXPECT_EQ(fileSize(made), 0) << what << ": --force did not replace the capture";
        }
        EXPECT_EQ(tap.stop(SIGTERM), 0) << what << ": exit status";
        if (link) {
            EXPECT_TRUE(access(made.c_str(), F_OK) != 0 && errno == ENOENT)
                << what << ": the link was left behind";
        }
        return;
    }
    EXPECT_TRUE(tap.exited(EXIT_MS) && tap.status == 1)
        << what << ": exit status " << tap.status << ", not 1";
    EXPECT_NE(tap.errText.find(made), std::string::npos)
        << what << ": the message does not name " << made << ": " << tap.errText;
    if (link) {
        EXPECT_EQ(readLink(made), as) << what << ": the link was changed";
    } else {
        EXPECT_EQ(readFile(made), old) << what << ": the file was changed";
    }
    EXPECT_EQ(readFile(target), "not a capture") << what << ": the link's target was changed";
    EXPECT_EQ(readFile(file), old) << what << ": another file was changed";
    // A refused .rx leaves no new .tx behind.
    if (std::string(c.made) == ".rx") {
        EXPECT_NE(access((p + ".tx").c_str(), F_OK), 0)
            << "a refused capture left PREFIX.tx behind";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Live, TapPaths,
    ::testing::Values(
        PathCase{"existing_capture", {"--save", "P"}, ".rx", PathCase::OLD_FILE, false},
        PathCase{"symlinked_capture", {"--save", "P"}, ".tx", PathCase::LINK_TO_TARGET, false},
        PathCase{"symlinked_capture_force",
                 {"--save", "P", "--force"},
                 ".tx",
                 PathCase::LINK_TO_TARGET,
                 false},
        PathCase{
            "existing_capture_force", {"--save", "P", "--force"}, ".tx", PathCase::OLD_FILE, true},
        PathCase{"link_onto_a_file", {"--link", "P"}, "", PathCase::OLD_FILE, false},
        PathCase{"link_onto_a_foreign_link", {"--link", "P"}, "", PathCase::LINK_TO_DEVICE, false},
        PathCase{"link_onto_a_stale_pts_link", {"--link", "P"}, "", PathCase::LINK_TO_STALE, true}),
    [](const auto &info) { return std::string(info.param.name); });

// A device already in use: a second vemlink beside a tap, and a device that
// a terminal program holds with flock. Both refused with status 1; free
// again once the lock is gone.
TEST_F(Live, DeviceInUseIsRefused)
{
    const std::string out = path("locks");
    Pty dev;
    const std::string busy = dev.path + " is in use by another program";
    {
        Child tap({"tap", dev.path}, out);
        if (!startTap(tap, "lock").empty()) {
            Child second({"decode", "--device", dev.path}, path("second"));
            EXPECT_TRUE(second.exited(EXIT_MS) && second.status == 1 &&
                        second.errText.find(busy) != std::string::npos)
                << "a second opener beside a tap: exit status " << second.status << ": "
                << second.errText;
            EXPECT_EQ(tap.stop(SIGTERM), 0) << "lock: the tap's exit status";
        }
    }
    const int held = open(dev.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_TRUE(held >= 0 && flock(held, LOCK_EX | LOCK_NB) == 0) << "flock on the device";
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"send", "--device", dev.path, "61"},
          std::vector<std::string>{"tap", dev.path}}) {
        Child run(args, out);
        EXPECT_TRUE(run.exited(EXIT_MS) && run.status == 1 &&
                    run.errText.find(busy) != std::string::npos)
            << args[0] << " on a device held with flock: exit status " << run.status << ": "
            << run.errText;
    }
    close(held);
    Child send({"send", "--device", dev.path, "61"}, out);
    EXPECT_TRUE(send.exited(EXIT_MS) && send.status == 0)
        << "send after the lock went: " << send.errText;
}

} // namespace
} // namespace live
