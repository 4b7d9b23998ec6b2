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

#include "baseline.h"
#include "platform/bmp.h"

namespace fs = std::filesystem;

namespace {

using namespace baseline;

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
