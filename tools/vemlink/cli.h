// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_CLI_H
#define VEMLINK_CLI_H

// What vemlink's subcommands share: exit statuses, argument errors, input
// and output. Standard output carries only a subcommand's result; messages
// go to standard error.
#include <cstdio>
#include <string>
#include <vector>

#include "listing/frame.h"

// Exit statuses: done; a check, a read or a write failed; bad arguments.
const int STATUS_OK = 0;
const int STATUS_FAILED = 1;
const int STATUS_USAGE = 2;

// Each subcommand takes its own name in argv[0] and returns the exit status.
int runDemo(int argc, char **argv);
int runEncode(int argc, char **argv);
int runDecode(int argc, char **argv);
int runTap(int argc, char **argv);
int runSend(int argc, char **argv);
int runMonitor(int argc, char **argv);
int runExtcap(int argc, char **argv);
int runReplay(int argc, char **argv);
int runMock(int argc, char **argv);

// True for -h and --help.
bool isHelp(const char *arg);

// True for an argument that looks like an option: "-x" or "--x", not "-".
bool isOption(const char *arg);

// When argv[i] is the option name, given as "NAME VALUE" or "NAME=VALUE",
// points value at the value (nullptr when NAME is the last argument), moves i
// past a separate value and returns true; false for any other argument.
bool takeValue(int argc, char **argv, int &i, const char *name, const char *&value);

// Writes "vemlink COMMAND: message" and a pointer to the command's --help on
// standard error and returns STATUS_USAGE.
int usageError(const char *command, const std::string &message);

// Writes "vemlink COMMAND: message" on standard error and returns
// STATUS_FAILED.
int failure(const char *command, const std::string &message);

// Opens path for reading with open(2), "-" meaning standard input. Returns
// the descriptor, or -1 with errno set.
int openInput(const char *path);

// Reads fd to its end, appending to bytes. False on a read error (errno set).
bool readAll(int fd, std::vector<unsigned char> &bytes);

// Reads fd to its end, appending to bytes, but bytes never grows past limit
// + 1: with more to read, stops there and sets over. False on a read error
// (errno set).
bool readAtMost(int fd, std::vector<unsigned char> &bytes, size_t limit, bool &over);

// The same for an option's value: false with "OPTION needs a duration with
// its unit ..." in error, naming option and what it was given.
bool parseDuration(const char *option, const char *text, double &seconds, std::string &error);

// The usage error for a payload of len bytes, or with more of more than
// frame::MAX_PAYLOAD (the rest unread): STATUS_USAGE.
int payloadTooLong(const char *command, size_t len, bool more);

// A duration with its unit, as a user writes it: "20ms", "0.5s", "150us"
// (a decimal number, then us, ms or s, nothing between). Sets seconds and
// returns true; false for a negative number, a missing or unknown unit, or
// anything else.
bool parseDuration(const char *text, double &seconds);

// Flushes standard output and the listing (output.h); STATUS_OK when everything written got out,
// otherwise reports the failure for command and returns STATUS_FAILED.
int finishOutput(const char *command);

#endif
