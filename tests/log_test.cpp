// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// What the framer's messages look like once log4cpp has laid them out: whole
// lines, no blank line after a message that ends in a newline, and the
// sample configuration writing to standard error only.
#include "hdlc.h"
#include "vemlog.h"

#include <gtest/gtest.h>

#include <log4cpp/Category.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/PropertyConfigurator.hh>

#include <cctype>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Lays out everything logged under one category with pattern into text.
class LayoutCapture {
public:
    LayoutCapture(const char *category, const char *pattern)
        : mCategory(log4cpp::Category::getInstance(category))
    {
        auto *appender = new log4cpp::OstreamAppender("layout-capture", &mText);
        auto *layout = new log4cpp::PatternLayout();
        layout->setConversionPattern(pattern);
        appender->setLayout(layout);
        mCategory.removeAllAppenders();
        mCategory.addAppender(appender); // the category owns it from here
        mCategory.setAdditivity(false);
        mCategory.setPriority(log4cpp::Priority::DEBUG);
    }
    ~LayoutCapture()
    {
        mCategory.removeAllAppenders();
        mCategory.setAdditivity(true);
        mCategory.setPriority(log4cpp::Priority::NOTSET);
    }
    LayoutCapture(const LayoutCapture &) = delete;
    LayoutCapture &operator=(const LayoutCapture &) = delete;

    // What was written since the last call.
    std::string take()
    {
        std::string out = mText.str();
        mText.str("");
        return out;
    }

private:
    log4cpp::Category &mCategory;
    std::ostringstream mText;
};

void feed(cHDLC &framer, const std::vector<unsigned char> &wire)
{
    unsigned char dst[1023];
    int len = 0;
    for (unsigned char b : wire)
        framer.unFrameByte(b, dst, &len);
}

const std::vector<unsigned char> kGoodFrame = {0x7E, 0x61, 0x62, 0x63, 0x25, 0x9E, 0x7E};
const std::vector<unsigned char> kBadFrame = {0x7E, 0x61, 0x62, 0x64, 0x25, 0x9E, 0x7E};

TEST(FramerLogLines, ConstructionGoodFrameAndBadFrame)
{
    LayoutCapture log("cHDLCFramer", "%p [%c] %m%n");
    cHDLC framer;
    EXPECT_EQ(log.take(), "INFO [cHDLCFramer] Creating Framer\n");
    feed(framer, kGoodFrame);
    EXPECT_EQ(log.take(), "DEBUG [cHDLCFramer] Frame Received\n");
    feed(framer, kBadFrame);
    EXPECT_EQ(log.take(), "DEBUG [cHDLCFramer] Frame Received\n"
                          "DEBUG [cHDLCFramer] RX Crc Error\n");
    // Back to back, with one flag shared: still one line per message.
    std::vector<unsigned char> both = kBadFrame;
    both.insert(both.end(), kGoodFrame.begin() + 1, kGoodFrame.end());
    feed(framer, both);
    EXPECT_EQ(log.take(), "DEBUG [cHDLCFramer] Frame Received\n"
                          "DEBUG [cHDLCFramer] RX Crc Error\n"
                          "DEBUG [cHDLCFramer] Frame Received\n");
}

TEST(VemlogMessages, OneTrailingNewlineDropped)
{
    const std::string longText(1000, 'x'); // past the logger's first buffer
    struct Case {
        const char *name;
        std::string logged; // what was passed to info() and debug() through "%s"
        std::string message;
    } cases[] = {
        {"plain", "plain", "plain"},
        {"one newline", "ends\n", "ends"},
        {"two newlines", "two\n\n", "two\n"},
        {"only a newline", "\n", ""},
        {"empty", "", ""},
        {"inner newline", "inner\nline", "inner\nline"},
        {"carriage return kept", "crlf\r\n", "crlf\r"},
        {"long", longText + "\n", longText},
    };
    LayoutCapture log("vemlog.test", "%p<%m>%n");
    cVemlog logger("vemlog.test");
    for (const Case &c : cases) {
        logger.info("%s", c.logged.c_str());
        logger.debug("%s", c.logged.c_str());
        EXPECT_EQ(log.take(), "INFO<" + c.message + ">\nDEBUG<" + c.message + ">\n") << c.name;
    }
    logger.debug("%d frames, %s\n", 3, "ok");
    EXPECT_EQ(log.take(), "DEBUG<3 frames, ok>\n");
}

// Swaps a standard stream's buffer for a string while the object lives.
class StreamCapture {
public:
    explicit StreamCapture(std::ostream &stream)
        : mStream(stream), mSaved(stream.rdbuf(mText.rdbuf()))
    {
    }
    ~StreamCapture() { mStream.rdbuf(mSaved); }
    StreamCapture(const StreamCapture &) = delete;
    StreamCapture &operator=(const StreamCapture &) = delete;
    std::string text() const { return mText.str(); }

private:
    std::ostream &mStream;
    std::ostringstream mText;
    std::streambuf *mSaved;
};

// The lines of text, each with its leading "HH:MM:SS.mmm " checked and cut
// off; a line without one is kept whole, so the comparison shows it.
std::vector<std::string> withoutTimes(const std::string &text)
{
    const std::string shape = "00:00:00.000 ";
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        bool timed = line.size() > shape.size();
        for (size_t i = 0; timed && i < shape.size(); ++i)
            timed = shape[i] == '0' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                                    : line[i] == shape[i];
        lines.push_back(timed ? line.substr(shape.size()) : line);
    }
    if (!text.empty() && text.back() != '\n')
        lines.push_back("(no newline at the end)");
    return lines;
}

TEST(SampleConfiguration, FramerLinesGoToStandardError)
{
    log4cpp::PropertyConfigurator::configure(VEMLOG_SAMPLE_CONFIG);
    log4cpp::Category &framerCategory = log4cpp::Category::getInstance("cHDLCFramer");
    std::string out, err;
    {
        StreamCapture outCapture(std::cout);
        StreamCapture errCapture(std::cerr);
        cHDLC framer;
        framerCategory.setPriority(log4cpp::Priority::DEBUG);
        feed(framer, kGoodFrame);
        out = outCapture.text();
        err = errCapture.text();
    }
    log4cpp::Category::getRoot().removeAllAppenders();
    framerCategory.setPriority(log4cpp::Priority::NOTSET);

    EXPECT_EQ(out, "");
    const std::vector<std::string> expected = {"INFO  [cHDLCFramer] Creating Framer",
                                               "DEBUG [cHDLCFramer] Frame Received"};
    EXPECT_EQ(withoutTimes(err), expected) << err;
}

} // namespace
