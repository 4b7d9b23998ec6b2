// The BMP reader and writer against the plainest way to move the same bytes, measured in the
// same run and interleaved iteration by iteration, so the ratio holds on any machine.
//
// Reader: LoadBitmapFile on a 1000 x 1000 24-bit file, against reading the same file into
// memory and copying its bytes once more (memcpy). Writer: SaveBitmapFile of the same picture,
// against writing its file image with write and fsync.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/bmp.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct Fixture {
    fs::path folder;
    fs::path file;
    TBitmap picture;
    std::vector<uint8_t> image; // the file's bytes

    Fixture()
    {
        folder = fs::temp_directory_path() / ("ketto-bmp-bench-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        file = folder / "picture.bmp";
        picture = TBitmap(1000, 1000);
        for (int y = 0; y < 1000; ++y)
            for (int x = 0; x < 1000; ++x)
                picture.ScanLine(y)[x] = 0xFF000000u | uint32_t(x * 2654435761u + y * 40503u);
        image = EncodeBitmapFile(picture);
        SaveBitmapFile(picture, file.string());
    }
    ~Fixture() { fs::remove_all(folder); }
};

Fixture &Shared()
{
    static Fixture fixture;
    return fixture;
}

std::vector<uint8_t> ReadPlain(const fs::path &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<uint8_t> bytes(fs::file_size(path));
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

void WritePlain(const fs::path &path, const std::vector<uint8_t> &bytes)
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

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Each iteration times the baseline and then the code under test; the benchmark's own time is
// the code under test (manual time), and the counters give both and their ratio.
template <typename Baseline, typename Measured>
void Compare(benchmark::State &state, Baseline baseline, Measured measured)
{
    double base = 0, ours = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        baseline();
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

void BM_ReadBmp24VersusReadAndMemcpy(benchmark::State &state)
{
    Fixture &f = Shared();
    std::vector<uint8_t> copy(f.image.size());
    TBitmap loaded;
    Compare(
        state,
        [&] {
            const std::vector<uint8_t> bytes = ReadPlain(f.file);
            std::memcpy(copy.data(), bytes.data(), bytes.size());
            benchmark::DoNotOptimize(copy.data());
        },
        [&] {
            LoadBitmapFile(loaded, f.file.string());
            benchmark::DoNotOptimize(loaded.Bits());
        });
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.image.size()));
}
BENCHMARK(BM_ReadBmp24VersusReadAndMemcpy)->UseManualTime()->Unit(benchmark::kMillisecond);

// Decoding alone, from memory, against one memcpy of the file's bytes.
void BM_DecodeBmp24VersusMemcpy(benchmark::State &state)
{
    Fixture &f = Shared();
    std::vector<uint8_t> copy(f.image.size());
    TBitmap loaded;
    Compare(
        state,
        [&] {
            std::memcpy(copy.data(), f.image.data(), f.image.size());
            benchmark::DoNotOptimize(copy.data());
        },
        [&] {
            LoadBitmapBytes(loaded, f.image);
            benchmark::DoNotOptimize(loaded.Bits());
        });
}
BENCHMARK(BM_DecodeBmp24VersusMemcpy)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SaveBmp24VersusWriteAndFsync(benchmark::State &state)
{
    Fixture &f = Shared();
    const fs::path plain = f.folder / "plain.bmp", saved = f.folder / "saved.bmp";
    Compare(
        state, [&] { WritePlain(plain, f.image); },
        [&] { SaveBitmapFile(f.picture, saved.string()); });
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.image.size()));
}
BENCHMARK(BM_SaveBmp24VersusWriteAndFsync)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
