// Save and Open of a 4000 x 4000 canvas through the commands themselves, against moving the
// same number of bytes with plain file I/O, measured in the same run and interleaved iteration
// by iteration, so the ratio holds on any machine.
//
// Save: the Save command with a name already given, against writing the file's size in bytes
// with write and one fsync. Open: the Open command (its dialog answered at once), against
// reading the file into a newly allocated buffer with read, as a program would.
#include <benchmark/benchmark.h>

#include <QFileDialog>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "canvas_window/canvas_window.h"
#include "new_canvas_dialog/new_canvas_dialog.h"
#include "platform/widgets/application.h"
#include "stamp_list_window/stamp_list_window.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSide = 4000;

struct Fixture {
    fs::path folder;
    fs::path saved;   // written by Save
    fs::path plain;   // written by the baseline
    size_t fileSize = 0;
    TBitmap canvas;

    Fixture()
    {
        folder = fs::temp_directory_path() / ("ketto-document-bench-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        saved = folder / "canvas.bmp";
        plain = folder / "plain.bin";
        canvas = TBitmap(kSide, kSide);
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x)
                canvas.ScanLine(y)[x] = 0xFF000000u | (uint32_t(x * 2654435761u + y * 40503u) >> 8);
        Form1->Image1->SetWidth(kSide);
        Form1->Image1->SetHeight(kSide);
        Form1->Image1->SetPicture(canvas);
        HasFileName = 1;
        Form1->SaveFileName = saved.string();
        Form1->Save1Click(nullptr);
        fileSize = fs::file_size(saved);
    }
    ~Fixture() { fs::remove_all(folder); }
};

Fixture &Shared()
{
    static Fixture fixture;
    return fixture;
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

std::vector<uint8_t> ReadPlain(const fs::path &path, size_t size)
{
    std::vector<uint8_t> bytes(size);
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

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Each iteration times the baseline and then the command; the benchmark's own time is the
// command (manual time), and the counters give both and their ratio.
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

void BM_SaveCanvasVersusWriteAndFsync(benchmark::State &state)
{
    Fixture &f = Shared();
    const std::vector<uint8_t> bytes(f.fileSize, 0x5A);
    HasFileName = 1;
    Form1->SaveFileName = f.saved.string();
    Compare(state, [&] { WritePlain(f.plain, bytes); }, [&] { Form1->Save1Click(nullptr); });
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.fileSize));
}
BENCHMARK(BM_SaveCanvasVersusWriteAndFsync)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_OpenCanvasVersusRead(benchmark::State &state)
{
    Fixture &f = Shared();
    const QString file = QString::fromStdString(f.saved.string());
    Form1->ExecuteFileDialog = [&file](QFileDialog &dialog) {
        dialog.selectFile(file);
        return true;
    };
    Compare(
        state,
        [&] {
            const std::vector<uint8_t> bytes = ReadPlain(f.saved, f.fileSize);
            benchmark::DoNotOptimize(bytes.data());
        },
        [&] {
            Form1->OPen1Click(nullptr);
            benchmark::DoNotOptimize(Form1->Image1->Picture());
        });
    if (Form1->Image1->Width() != kSide)
        state.SkipWithError("Open did not load the canvas");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.fileSize));
}
BENCHMARK(BM_OpenCanvasVersusRead)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    application.Initialize();
    // A failing command would otherwise wait for a click on its message box.
    application.ErrorSink = [](const QString &, const QString &text) {
        std::fprintf(stderr, "error report: %s\n", text.toLocal8Bit().constData());
        std::exit(1);
    };
    application.CreateForm(Form1);
    application.CreateForm(Form2);
    application.CreateForm(Form3);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
