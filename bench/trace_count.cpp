// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Counts executed instructions per function from a qemu-user exec trace
// taken with -singlestep -d nochain,exec: every "Trace" line is then one
// executed guest instruction, and its second bracketed field the guest pc.
//
//   vemutils_trace_count SYMBOLS < TRACE > COUNTS
//
// SYMBOLS is nm -S output (demangled) of every loaded object, each object's
// part headed by a line "object BASE", BASE its load address: a function is
// a line "VALUE SIZE TYPE NAME" of type T, t, W or w. A Thumb function's
// value has bit 0 set; its first instruction is at the even address. When
// two symbols start at one address, the first one listed names it.
// Only instructions executed while a function whose name starts with
// "kernel::" is active are counted, as callgrind's --toggle-collect does.
// COUNTS gets "INCLUSIVE SELF NAME" for every function that ran there:
// SELF its own instructions, INCLUSIVE those from its entry to its return,
// callees included. A line "TOTAL N" gives all counted instructions.
//
// Calls and returns are recovered from the pc alone: entering a function's
// first instruction from outside it is a call, whose return address is 2 or
// 4 bytes past the last instruction executed in a known function (the call
// itself, or its caller when the call went through a PLT stub). The first
// instruction at a return address of an active call ends that call and
// every call made inside it (which covers tail calls). Code without a
// symbol (PLT stubs, stripped internal functions) is counted inclusive only.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Function {
    uint32_t start = 0, end = 0;
    std::string name;
    bool kernel = false;
    uint64_t self = 0, incl = 0;
    int active = 0; // activations on the stack
};

struct Frame {
    int fn;
    uint32_t ret2, ret4; // the two possible return addresses
    uint64_t since;      // counted instructions at entry
};

std::vector<Function> readSymbols(const char *path)
{
    std::vector<Function> fns;
    std::FILE *f = std::fopen(path, "r");
    if (f == nullptr) {
        std::perror(path);
        std::exit(2);
    }
    char line[8192];
    uint32_t base = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        char *p = line;
        if (std::strncmp(p, "object ", 7) == 0) {
            base = static_cast<uint32_t>(std::strtoul(p + 7, nullptr, 16));
            continue;
        }
        Function fn;
        const auto value = static_cast<uint32_t>(std::strtoul(p, &p, 16));
        const auto size = static_cast<uint32_t>(std::strtoul(p, &p, 16));
        if (p[0] != ' ' || std::strchr("TtWw", p[1]) == nullptr || p[1] == '\0' || p[2] != ' ')
            continue;
        p += 3;
        fn.name.assign(p, std::strcspn(p, "\n"));
        if (size == 0 || fn.name.empty())
            continue;
        fn.start = (base + value) & ~uint32_t(1);
        fn.end = fn.start + size;
        fn.kernel = fn.name.compare(0, 8, "kernel::") == 0;
        fns.push_back(std::move(fn));
    }
    std::fclose(f);
    std::stable_sort(fns.begin(), fns.end(),
                     [](const Function &a, const Function &b) { return a.start < b.start; });
    fns.erase(std::unique(fns.begin(), fns.end(),
                          [](const Function &a, const Function &b) { return a.start == b.start; }),
              fns.end());
    return fns;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SYMBOLS < TRACE\n", argv[0]);
        return 2;
    }
    std::vector<Function> fns = readSymbols(argv[1]);
    std::unordered_map<uint32_t, int> where; // pc -> function index, -1: none
    auto lookup = [&](uint32_t pc) {
        const auto hit = where.find(pc);
        if (hit != where.end())
            return hit->second;
        auto it = std::upper_bound(fns.begin(), fns.end(), pc,
                                   [](uint32_t v, const Function &f) { return v < f.start; });
        int fn = -1;
        if (it != fns.begin() && pc < (it - 1)->end)
            fn = static_cast<int>(it - 1 - fns.begin());
        where.emplace(pc, fn);
        return fn;
    };

    std::vector<Frame> stack;
    std::unordered_map<uint32_t, int> returns; // return address -> frames waiting there
    int kernels = 0;                           // kernel:: activations on the stack
    size_t kernelAt = 0;                       // index of the outermost one
    uint64_t total = 0;
    int prevFn = -1;
    uint32_t lastKnownPc = 0;

    auto pop = [&]() {
        const Frame &f = stack.back();
        Function &fn = fns[static_cast<size_t>(f.fn)];
        if (--fn.active == 0)
            fn.incl += total - f.since;
        if (fn.kernel)
            --kernels;
        for (uint32_t r : {f.ret2, f.ret4})
            if (--returns[r] == 0)
                returns.erase(r);
        stack.pop_back();
    };

    static char buf[1 << 16];
    size_t got;
    std::string carry;
    while ((got = std::fread(buf, 1, sizeof buf, stdin)) > 0) {
        carry.append(buf, got);
        size_t pos = 0;
        for (size_t nl; (nl = carry.find('\n', pos)) != std::string::npos; pos = nl + 1) {
            if (carry.compare(pos, 6, "Trace ") != 0)
                continue;
            const size_t open = carry.find('[', pos);
            if (open == std::string::npos || open > nl)
                continue;
            const size_t slash = carry.find('/', open);
            if (slash == std::string::npos || slash > nl)
                continue;
            const auto pc = static_cast<uint32_t>(std::strtoul(&carry[slash + 1], nullptr, 16));

            const int fn = lookup(pc);
            const bool call = fn >= 0 && pc == fns[static_cast<size_t>(fn)].start && fn != prevFn;
            // A return to an active call ends it and every call above it. The
            // first instruction of a function is never a return, although it
            // may follow a call that does not return (abort, a failed check)
            // at the end of the function before it.
            // While a kernel:: function runs, only the calls made inside it
            // can end: a frame below it that was never seen to return (a
            // longjmp, a thread start) must not end it by chance.
            if (!call && returns.count(pc) != 0) {
                const size_t floor = kernels > 0 ? kernelAt : 0;
                size_t k = stack.size();
                while (k > floor && stack[k - 1].ret2 != pc && stack[k - 1].ret4 != pc)
                    --k;
                if (k > floor)
                    while (stack.size() >= k)
                        pop();
            }
            if (call) {
                Function &f = fns[static_cast<size_t>(fn)];
                stack.push_back({fn, lastKnownPc + 2, lastKnownPc + 4, total});
                ++returns[lastKnownPc + 2];
                ++returns[lastKnownPc + 4];
                ++f.active;
                if (f.kernel && kernels++ == 0)
                    kernelAt = stack.size() - 1;
            }
            if (kernels > 0) {
                ++total;
                if (fn >= 0)
                    ++fns[static_cast<size_t>(fn)].self;
            }
            if (fn >= 0)
                lastKnownPc = pc;
            prevFn = fn;
        }
        carry.erase(0, pos);
    }
    while (!stack.empty())
        pop();
    std::printf("TOTAL %llu\n", static_cast<unsigned long long>(total));
    for (const Function &f : fns)
        if (f.incl > 0 || f.self > 0)
            std::printf("%llu %llu %s\n", static_cast<unsigned long long>(f.incl),
                        static_cast<unsigned long long>(f.self), f.name.c_str());
    return 0;
}
