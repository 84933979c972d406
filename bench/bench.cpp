// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Timed benchmarks of the library next to the code a host would otherwise
// use, and a summary of throughput and ratios to those peers at the end.
// The instruction-counting modes are in counts.cpp.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "counts.h"
#include "workloads.h"

namespace {

using bench::Bytes;
using bench::Payload;

void crc(benchmark::State &state, unsigned short (*fn)(const unsigned char *, size_t))
{
    const Bytes data = bench::randomBytes(bench::CRC_BYTES, 7);
    for ([[maybe_unused]] auto _ : state)
        benchmark::DoNotOptimize(fn(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK_CAPTURE(crc, vemutils, kernel::crcVemutils);
BENCHMARK_CAPTURE(crc, boost, kernel::crcBoost);
BENCHMARK_CAPTURE(crc, bitwise, kernel::crcBitwise);

void frameData(benchmark::State &state, Payload kind)
{
    const int len = static_cast<int>(state.range(0));
    Bytes data = bench::payload(kind, len, 1);
    Bytes wire(2 * data.size() + 6);
    cHDLC link;
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(kernel::frame(link, data.data(), len, wire.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * len);
}
BENCHMARK_CAPTURE(frameData, random, Payload::Random)->Arg(16)->Arg(256)->Arg(1021);
BENCHMARK_CAPTURE(frameData, all7E, Payload::AllFlags)->Arg(16)->Arg(256)->Arg(1021);

void unFrameByte(benchmark::State &state, Payload kind)
{
    int frames = 0;
    const Bytes wire = bench::wireStream(kind, static_cast<int>(state.range(0)), &frames);
    unsigned char packet[1023];
    cHDLC link;
    for ([[maybe_unused]] auto _ : state) {
        if (kernel::unframe(link, wire.data(), wire.size(), packet) != frames) {
            state.SkipWithError("frames lost");
            break;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire.size()));
}
BENCHMARK_CAPTURE(unFrameByte, random, Payload::Random)->Arg(16)->Arg(256)->Arg(1021);
BENCHMARK_CAPTURE(unFrameByte, all7E, Payload::AllFlags)->Arg(16)->Arg(256)->Arg(1021);

using Table = std::map<std::string, std::string>;

// True when props holds exactly the pairs of table, whose size is known.
bool sameTable(cProperties &props, const Table &table)
{
    const size_t comments = bench::PROPERTY_LINES / 50; // every 100th line is empty instead
    if (table.size() != static_cast<size_t>(bench::PROPERTY_LINES) - comments)
        return false;
    for (const auto &[key, value] : table) {
        const char *got = props.getString(key.c_str(), nullptr);
        if (got == nullptr || value != got)
            return false;
    }
    return true;
}

// Each load fills an empty table from a trimmed heap; destroying the table
// and trimming are not timed.
template <typename T> void load(benchmark::State &state, bool (*fn)(T &, const char *))
{
    size_t bytes = 0;
    const char *path = bench::propertiesFile(&bytes);
    {
        cProperties props;
        Table table;
        if (!kernel::inihLoad(table, path) || !kernel::propertiesLoad(props, path) ||
            !sameTable(props, table)) {
            state.SkipWithError("cProperties and inih read the file differently");
            return;
        }
    }
    for ([[maybe_unused]] auto _ : state) {
        auto into = std::make_unique<T>();
        benchmark::DoNotOptimize(fn(*into, path));
        state.PauseTiming();
        into.reset();
        bench::freshHeap();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK_CAPTURE(load, vemutils, kernel::propertiesLoad);
BENCHMARK_CAPTURE(load, inih, kernel::inihLoad);

// Splits a fresh copy of the list each time; the copy is timed too, the
// same for both.
void parseList(benchmark::State &state, char **(*fn)(char *, char))
{
    const std::string list = bench::commaList();
    std::vector<char> a(list.c_str(), list.c_str() + list.size() + 1);
    std::vector<char> b = a;
    char **mine = kernel::parseList(a.data(), ',');
    char **theirs = kernel::strsepList(b.data(), ',');
    bool same = a == b;
    for (size_t i = 0; same && (mine[i] != nullptr || theirs[i] != nullptr); ++i)
        same = mine[i] != nullptr && theirs[i] != nullptr &&
               mine[i] - a.data() == theirs[i] - b.data();
    delete[] mine;
    delete[] theirs;
    if (!same) {
        state.SkipWithError("parseList and strsep split the list differently");
        return;
    }
    std::vector<char> work(a.size());
    for ([[maybe_unused]] auto _ : state) {
        std::memcpy(work.data(), list.c_str(), work.size());
        char **tokens = fn(work.data(), ',');
        benchmark::DoNotOptimize(tokens);
        delete[] tokens;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * list.size()));
}
BENCHMARK_CAPTURE(parseList, vemutils, kernel::parseList);
BENCHMARK_CAPTURE(parseList, strsep, kernel::strsepList);

// The library's benchmarks and the peers each is compared with.
const std::map<std::string, std::vector<std::string>> PEERS = {
    {"crc/vemutils", {"crc/boost", "crc/bitwise"}},
    {"load/vemutils", {"load/inih"}},
    {"parseList/vemutils", {"parseList/strsep"}},
};

// The usual console output, plus each run's throughput kept for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    explicit SummaryReporter(bool color) : ConsoleReporter(color ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            auto bps = run.counters.find("bytes_per_second");
            if (run.error_occurred || bps == run.counters.end())
                continue;
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
                keep(run.run_name.str(), bps->second.value / 1e6);
        }
    }

    void printSummary() const
    {
        if (mMBps.empty())
            return;
        std::printf("\nThroughput in MB/s (10^6 bytes/s: payload bytes for frameData, wire bytes "
                    "for unFrameByte, file\nbytes for load, string bytes for parseList); vs peers: "
                    "this one's throughput over the peer's.\n\n");
        std::printf("| benchmark | MB/s | vs peers |\n|---|---:|---|\n");
        for (const auto &[name, mbps] : mMBps) {
            std::printf("| %s | %.1f |", name.c_str(), mbps);
            auto peers = PEERS.find(name);
            if (peers != PEERS.end())
                for (const std::string &peer : peers->second)
                    for (const auto &[other, otherMBps] : mMBps)
                        if (other == peer)
                            std::printf(" %.2fx %s", mbps / otherMBps, peer.c_str());
            std::printf(" |\n");
        }
    }

private:
    // With repetitions the median comes after the single runs and replaces them.
    void keep(const std::string &name, double mbps)
    {
        for (auto &[known, value] : mMBps)
            if (known == name) {
                value = mbps;
                return;
            }
        mMBps.emplace_back(name, mbps);
    }

    std::vector<std::pair<std::string, double>> mMBps; // in the order they ran
};

} // namespace

int main(int argc, char **argv)
{
    int status = 0;
    if (bench::countsMain(argc, argv, &status))
        return status;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    SummaryReporter reporter(isatty(STDOUT_FILENO));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary();
    benchmark::Shutdown();
    return 0;
}
