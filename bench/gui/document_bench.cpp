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

#include "baseline.h"
#include "canvas_window/canvas_window.h"
#include "new_canvas_dialog/new_canvas_dialog.h"
#include "platform/widgets/application.h"
#include "stamp_list_window/stamp_list_window.h"

namespace fs = std::filesystem;

namespace {

using namespace baseline;
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
            const std::vector<uint8_t> bytes = ReadPlain(f.saved);
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
