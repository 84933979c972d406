// vemlink: shows libvemutils at work on a byte-stream link, and takes link
// bytes apart for whoever is debugging one.
#include <cstring>

#include "cli.h"

namespace {

const char *const USAGE =
    "usage: vemlink COMMAND [ARGS]\n"
    "\n"
    "  demo [--config FILE]     carry packets over a pseudo-terminal and check them\n"
    "  encode [HEX...|-]        print the frame for a payload, as hex\n"
    "  decode [--hex] [FILE|-]  list the frames in a capture of link bytes\n"
    "\n"
    "'vemlink COMMAND --help' tells more about each.\n";

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs(USAGE, stderr);
        return STATUS_USAGE;
    }
    const char *command = argv[1];
    if (isHelp(command)) {
        std::fputs(USAGE, stdout);
        return finishOutput("--help");
    }
    if (std::strcmp(command, "demo") == 0)
        return runDemo(argc - 1, argv + 1);
    if (std::strcmp(command, "encode") == 0)
        return runEncode(argc - 1, argv + 1);
    if (std::strcmp(command, "decode") == 0)
        return runDecode(argc - 1, argv + 1);
    std::fprintf(stderr, "vemlink: unknown command '%s'\n%s", command, USAGE);
    return STATUS_USAGE;
}
