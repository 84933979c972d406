// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_LINE_H
#define VEMLINK_LINE_H

// The line settings of a serial device as the live commands take them from
// the command line, set them on a device and read them back from a
// terminal: the rate, the character (data bits, parity, stop bits) and the
// flow control. Everything else stays raw.
#include <string>

#include <termios.h>

struct LineSettings {
    enum { PARITY_NONE, PARITY_ODD, PARITY_EVEN };
    enum { FLOW_NONE, FLOW_RTSCTS, FLOW_XONXOFF };

    long baud = 115200;
    int dataBits = 8;
    int parity = PARITY_NONE;
    int stopBits = 1;
    int flow = FLOW_NONE;

    bool operator==(const LineSettings &o) const
    {
        return baud == o.baud && dataBits == o.dataBits && parity == o.parity &&
               stopBits == o.stopBits && flow == o.flow;
    }
    bool operator!=(const LineSettings &o) const { return !(*this == o); }
};

// The settings the way terminal programs write them: "9600 7E1", followed
// by " rtscts" or " xonxoff" when flow control is on.
std::string describe(const LineSettings &line);

// Puts line into tio (the character size, parity, stop bits, flow control
// and, when it is one of the standard B-constants, the rate). False when the
// rate has no B-constant: set it with setAnyRate (anyrate.h) afterwards.
bool toTermios(const LineSettings &line, termios &tio);

// Sets fd to line on top of its other settings: with tcsetattr, and through
// termios2 for a rate no B-constant names; then reads the rate back. False
// with "cannot set PATH to N baud: reason" (the driver refused the rate or
// set another), "cannot set PATH to 9600 7E1: reason" (a setting it did not
// take) or "cannot configure PATH: reason" in error. A pseudo-terminal
// takes any rate but only 8 data bits and no parity.
bool applyLine(int fd, const char *path, const LineSettings &line, std::string &error);

// Reads fd's settings into line; a rate that cannot be read (neither
// termios2 nor a known B-constant) leaves line.baud. False when fd is no
// terminal. extproc
// says whether the terminal has EXTPROC set, so that a pty master in packet
// mode hears of every change.
bool readLine(int fd, LineSettings &line, bool &extproc);

// When argv[i] is one of the line options (--baud, --databits, --parity,
// --stopbits, --flow, also as --NAME=VALUE, and --rtscts), takes it and
// its value into line, moving i past a separate value. 1 when taken, 0 for
// another argument, -1 with the accepted values in error for a bad value.
int takeLineOption(int argc, char **argv, int &i, LineSettings &line, std::string &error);

// The standard rates from 1200 baud up, separated by spaces: the rates a
// user picks from (any other goes through --baud too).
std::string commonRates();

// A usage text with the line holding "{LINE}" replaced by the line options
// and what each takes, their descriptions at the column of the line before.
std::string withLineOptions(const char *text);

#endif
