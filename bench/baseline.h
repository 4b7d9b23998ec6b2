// What the benchmarks measure the program against: the plainest way to move the same bytes,
// and one loop that times a baseline and the code under test in the same iteration, so their
// ratio holds on any machine.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace baseline {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The whole file, read into a newly allocated buffer as a program would.
inline std::vector<uint8_t> ReadPlain(const std::filesystem::path &path)
{
    std::vector<uint8_t> bytes(std::filesystem::file_size(path));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n <= 0)
            break;
        got += size_t(n);
    }
    ::close(fd);
    return bytes;
}

// The bytes written with write and flushed to disk with one fsync.
inline void WritePlain(const std::filesystem::path &path, const std::vector<uint8_t> &bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    ::fsync(fd);
    ::close(fd);
}

// Each iteration times the baseline and then the code under test; the benchmark's own time is
// the code under test (manual time), and the counters give both and their ratio.
template <typename Baseline, typename Measured>
void Compare(benchmark::State &state, Baseline run_baseline, Measured measured)
{
    double base = 0, ours = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        run_baseline();
        const auto t1 = Clock::now();
        measured();
        const auto t2 = Clock::now();
        base += Seconds(t1 - t0);
        ours += Seconds(t2 - t1);
        state.SetIterationTime(Seconds(t2 - t1));
    }
    state.counters["baseline_ms"] = benchmark::Counter(base * 1e3 / double(state.iterations()));
    state.counters["ours_ms"] = benchmark::Counter(ours * 1e3 / double(state.iterations()));
    state.counters["ratio"] = benchmark::Counter(base > 0 ? ours / base : 0);
}

} // namespace baseline
