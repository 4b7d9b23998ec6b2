// The cost of one whole stamp (PutImage: load, decode, draw, repaint) against its unavoidable
// parts measured in the same run: reading and decoding the same file directly with the
// underlying reader, plus one repaint of a rectangle of the stamp's size on the same canvas
// control. Also the same stamp on a small and a very large canvas.
//
// Run with QT_QPA_PLATFORM=offscreen from the program's folder, where the plug-ins are.
#include <benchmark/benchmark.h>

#include <QCheckBox>
#include <QImage>
#include <QListWidget>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "canvas_window/canvas_window.h"
#include "platform/bmp.h"
#include "platform/widgets/application.h"
#include "stamp_list_window/stamp_list_window.h"

namespace {

const char *const kKinds[] = {"bmp", "gif", "jpg", "png"};
std::string folder;

std::string ImagePath(const std::string &kind, int size)
{
    return folder + "/stamp" + std::to_string(size) + "." + kind;
}

// A smooth picture with some texture, so no decoder gets an unrealistically easy input.
QRgb Sample(int x, int y, int size)
{
    const int r = (x * 255) / size;
    const int g = (y * 255) / size;
    const int b = static_cast<int>(127 + 120 * std::sin((x + 2 * y) * 0.2));
    return qRgb(r, g, b);
}

void WriteGif(const std::string &path, int size)
{
    int error = 0;
    GifFileType *gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif)
        std::abort();
    // A 6x6x6 colour cube: enough colours for a textured picture within 256 entries.
    ColorMapObject *map = GifMakeMapObject(256, nullptr);
    for (int i = 0; i < 256; ++i) {
        const int c = i < 216 ? i : 215;
        map->Colors[i] = {GifByteType((c / 36) * 51), GifByteType(((c / 6) % 6) * 51), GifByteType((c % 6) * 51)};
    }
    EGifPutScreenDesc(gif, size, size, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, size, size, false, nullptr);
    std::vector<GifPixelType> row(size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const QRgb p = Sample(x, y, size);
            row[x] = GifPixelType((qRed(p) / 51) * 36 + (qGreen(p) / 51) * 6 + qBlue(p) / 51);
        }
        EGifPutLine(gif, row.data(), size);
    }
    GifFreeMapObject(map);
    EGifCloseFile(gif, &error);
}

void MakeImages()
{
    char pattern[] = "/tmp/ketto-stamp-bench-XXXXXX";
    folder = mkdtemp(pattern);
    for (int size : {64, 256}) {
        QImage image(size, size, QImage::Format_RGB32);
        TBitmap bitmap(size, size);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                image.setPixel(x, y, Sample(x, y, size));
                bitmap.ScanLine(y)[x] = Sample(x, y, size) | 0xFF000000u;
            }
        bitmap.SaveToFile(ImagePath("bmp", size));
        image.save(QString::fromStdString(ImagePath("jpg", size)), "JPEG", 90);
        image.save(QString::fromStdString(ImagePath("png", size)), "PNG");
        WriteGif(ImagePath("gif", size), size);
    }
}

// Direct decoding into 32-bit pixels with each kind's own reader.
void DecodeBmp(const std::string &path, std::vector<uint32_t> &)
{
    TBitmap bitmap;
    LoadBitmapFile(bitmap, path);
    benchmark::DoNotOptimize(bitmap.Bits());
}

void DecodeGif(const std::string &path, std::vector<uint32_t> &pixels)
{
    int error = 0;
    GifFileType *gif = DGifOpenFileName(path.c_str(), &error);
    DGifSlurp(gif);
    const SavedImage &image = gif->SavedImages[0];
    const ColorMapObject *map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    const size_t n = size_t(image.ImageDesc.Width) * image.ImageDesc.Height;
    pixels.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const GifColorType &c = map->Colors[image.RasterBits[i]];
        pixels[i] = 0xFF000000u | (c.Red << 16) | (c.Green << 8) | c.Blue;
    }
    DGifCloseFile(gif, &error);
}

void DecodeJpeg(const std::string &path, std::vector<uint32_t> &pixels)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    pixels.resize(size_t(info.output_width) * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(&pixels[size_t(info.output_scanline) * info.output_width]);
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
}

void DecodePng(const std::string &path, std::vector<uint32_t> &pixels)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_file(&image, path.c_str());
    image.format = PNG_FORMAT_BGRA;
    pixels.resize(size_t(image.width) * image.height);
    png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
}

using Decoder = void (*)(const std::string &, std::vector<uint32_t> &);
Decoder DecoderFor(const std::string &kind)
{
    if (kind == "bmp")
        return DecodeBmp;
    if (kind == "gif")
        return DecodeGif;
    if (kind == "jpg")
        return DecodeJpeg;
    return DecodePng;
}

// Gives the canvas a fresh black bitmap of this size.
void SetCanvas(int size)
{
    TImage *canvas = Form1->Image1;
    if (canvas->Width() == size && canvas->Height() == size && canvas->HasPicture())
        return;
    canvas->RemovePicture();
    canvas->SetWidth(size);
    canvas->SetHeight(size);
    PatBlt(canvas->Canvas(), 0, 0, size, size, BLACKNESS);
}

void UseStamp(const std::string &path)
{
    Form2->ListBox1->clear();
    Form2->ListBox1->addItem(QString::fromStdString(path));
}

// The stamp lands at the same place every time, well inside the canvas.
constexpr int kAt = 40;

void Stamp(benchmark::State &state, std::string kind, int size, int canvas)
{
    SetCanvas(canvas);
    UseStamp(ImagePath(kind, size));
    for (auto _ : state)
        Form1->PutImage(kAt, kAt);
}

void Unavoidable(benchmark::State &state, std::string kind, int size)
{
    SetCanvas(400);
    const std::string path = ImagePath(kind, size);
    const Decoder decode = DecoderFor(kind);
    for (auto _ : state) {
        // Each decode makes a new picture, as every stamp must.
        std::vector<uint32_t> pixels;
        decode(path, pixels);
        benchmark::DoNotOptimize(pixels.data());
        Form1->Image1->RepaintRect(kAt, kAt, size, size);
    }
}

// Keeps every result's processor time per iteration so the ratios can be printed after the run.
// Processor time, not wall time: the machine is shared, and everything measured here (reading,
// decoding, drawing and the synchronous repaint) runs on this thread.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                times[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    std::map<std::string, double> times;
};

void PrintRatio(const RatioReporter &reporter, const std::string &what, const std::string &cost,
                const std::string &base, double target)
{
    const auto c = reporter.times.find(cost), b = reporter.times.find(base);
    if (c == reporter.times.end() || b == reporter.times.end())
        return;
    const double ratio = c->second / b->second;
    std::printf("%-34s %6.3f  (target %.2f)%s\n", what.c_str(), ratio, target, ratio <= target ? "" : "  MISSED");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    TApplication application(argc, argv);
    application.Initialize();
    application.CreateForm(Form1);
    application.CreateForm(Form2);
    Form1->show();
    MakeImages();

    for (const char *kind : kKinds)
        for (int size : {64, 256}) {
            const std::string suffix = std::string(kind) + "/" + std::to_string(size);
            benchmark::RegisterBenchmark(("stamp/" + suffix).c_str(), Stamp, kind, size, 400);
            benchmark::RegisterBenchmark(("unavoidable/" + suffix).c_str(), Unavoidable, kind, size);
        }
    for (int canvas : {400, 8000})
        benchmark::RegisterBenchmark(("canvas/" + std::to_string(canvas)).c_str(), Stamp, "bmp", 256, canvas);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nwhole stamp / (direct decode + repaint of the same rectangle)\n");
    for (const char *kind : kKinds)
        for (int size : {64, 256}) {
            const std::string suffix = std::string(kind) + "/" + std::to_string(size);
            PrintRatio(reporter, suffix, "stamp/" + suffix, "unavoidable/" + suffix, size == 256 ? 1.25 : 1.5);
        }
    PrintRatio(reporter, "8000x8000 canvas / 400x400 canvas", "canvas/8000", "canvas/400", 1.1);
    benchmark::Shutdown();
    std::filesystem::remove_all(folder);
    return 0;
}
