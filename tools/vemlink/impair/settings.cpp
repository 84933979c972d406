// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "impair/settings.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "cli.h"

namespace impair {

const char *const WORD_FORMS = "loss P%, duplicate P%, corrupt P%, truncate P%, "
                               "ber X [burst N], delay T [J], rate BPS";

namespace {

// A plain decimal number taking all of text (strtod's forms, exponent
// included), finite and not negative.
bool number(const std::string &text, double &v)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || std::isspace(text[0]))
        return false;
    char *end = nullptr;
    v = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(v) && v >= 0;
}

// "5%" or "0.5%": a share from 0 to 1.
bool percent(const std::string &text, double &v)
{
    if (text.size() < 2 || text.back() != '%' || !number(text.substr(0, text.size() - 1), v) ||
        v > 100)
        return false;
    v /= 100;
    return true;
}

bool isWord(const std::string &w)
{
    for (const char *known :
         {"loss", "duplicate", "corrupt", "truncate", "ber", "burst", "delay", "rate"})
        if (w == known)
            return true;
    return false;
}

// Reads the impairment words one at a time, with what follows each.
class Reader {
public:
    Reader(const char *text, Settings &settings) : mSettings(settings)
    {
        std::istringstream in(text);
        for (std::string w; in >> w;)
            mWords.push_back(w);
    }

    bool run(std::string &error);

private:
    bool word(const std::string &w);
    bool share(const std::string &w, double &to);
    bool ber();
    bool delay();
    bool rate();
    // The value after the word, empty at the end.
    std::string value() { return mAt < mWords.size() ? mWords[mAt++] : std::string(); }
    bool fail(const std::string &w, const std::string &got, const std::string &form)
    {
        mError = w + (got.empty() ? " needs a value" : " '" + got + "'") + ": " + form;
        return false;
    }

    Settings &mSettings;
    std::vector<std::string> mWords;
    size_t mAt = 0;
    std::vector<std::string> mSeen;
    std::string mError;
};

bool Reader::run(std::string &error)
{
    if (mWords.empty()) {
        error = "no impairments given; the words are " + std::string(WORD_FORMS);
        return false;
    }
    while (mAt < mWords.size()) {
        const std::string w = mWords[mAt++];
        for (const std::string &seen : mSeen)
            if (seen == w) {
                error = w + " given twice";
                return false;
            }
        mSeen.push_back(w);
        if (!word(w)) {
            error = mError;
            return false;
        }
    }
    mSettings.given = true;
    return true;
}

bool Reader::word(const std::string &w)
{
    const bool frameWord = w == "loss" || w == "duplicate" || w == "corrupt" || w == "truncate";
    mSettings.frameWords = mSettings.frameWords || frameWord || w == "delay";
    if (w == "loss")
        return share(w, mSettings.loss);
    if (w == "duplicate")
        return share(w, mSettings.duplicate);
    if (w == "corrupt")
        return share(w, mSettings.corrupt);
    if (w == "truncate")
        return share(w, mSettings.truncate);
    if (w == "ber")
        return ber();
    if (w == "delay")
        return delay();
    if (w == "rate")
        return rate();
    if (w == "burst")
        mError = "burst goes after ber: ber X burst N";
    else
        mError = "unknown word '" + w + "'; the words are " + WORD_FORMS;
    return false;
}

bool Reader::share(const std::string &w, double &to)
{
    const std::string v = value();
    if (!percent(v, to))
        return fail(w, v, "a percentage from 0% to 100% (" + w + " P%, e.g. " + w + " 5%)");
    return true;
}

// ber X [burst N]. In a burst each bit is wrong with probability 1/2, so
// with one X is at most 1/2.
bool Reader::ber()
{
    const std::string v = value();
    const char *form = "a probability from 0 to 1 (ber X [burst N], e.g. ber 1e-5)";
    if (!number(v, mSettings.ber) || mSettings.ber > 1)
        return fail("ber", v, form);
    if (mAt >= mWords.size() || mWords[mAt] != "burst")
        return true;
    ++mAt;
    mSeen.emplace_back("burst");
    const std::string n = value();
    if (!number(n, mSettings.burst) || mSettings.burst < 1)
        return fail("burst", n,
                    "a mean length in bits of at least 1 (ber X burst N, e.g. "
                    "ber 1e-5 burst 16)");
    if (mSettings.ber > 0.5)
        return fail("ber", v, "at most 0.5 with a burst (ber X burst N, e.g. ber 1e-5 burst 16)");
    return true;
}

// delay T [J]: J, when given, is a duration no longer than T.
bool Reader::delay()
{
    const char *form = "a duration with its unit (delay T [J], e.g. delay 20ms 5ms)";
    mSettings.delayGiven = true;
    const std::string t = value();
    if (!parseDuration(t.c_str(), mSettings.delay))
        return fail("delay", t, form);
    if (mAt >= mWords.size() || isWord(mWords[mAt]))
        return true;
    const std::string j = value();
    if (!parseDuration(j.c_str(), mSettings.jitter))
        return fail("delay jitter", j, form);
    if (mSettings.jitter > mSettings.delay)
        return fail("delay jitter", j, "no more than the delay " + t + " (delay T [J])");
    return true;
}

bool Reader::rate()
{
    const std::string v = value();
    double bps = 0;
    if (!number(v, bps) || bps < 1 || bps > 1e9 || bps != std::floor(bps))
        return fail("rate", v,
                    "bits per second, a whole number from 1 to 1000000000 (rate "
                    "BPS, e.g. rate 115200)");
    mSettings.rate = static_cast<long>(bps);
    return true;
}

} // namespace

bool parseSettings(const char *text, Settings &settings, std::string &error)
{
    settings = Settings();
    Reader reader(text, settings);
    return reader.run(error);
}

} // namespace impair
