#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include <unistd.h>

#include "dib_builder.h"
#include "platform/bmp.h"
#include "platform/errors.h"

#ifdef KETTO_HAVE_QT_ORACLE
#include <QImage>
#endif

namespace fs = std::filesystem;

namespace {

const fs::path Corpus = fs::path(KETTO_SHARED_DIR) / "testdata" / "bmpsuite";

std::vector<fs::path> CorpusFiles(const char *folder)
{
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(Corpus / folder))
        if (entry.path().extension() == ".bmp")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

#define SKIP_WITHOUT_CORPUS()                                                                      \
    if (!fs::is_directory(Corpus))                                                                 \
    GTEST_SKIP() << "The BMP conformance pictures are not at " << Corpus                          \
                 << "; they live beside the repository, not in it"

// What reading a file came to: the picture, or the error's class and message.
struct Outcome {
    bool ok = false;
    std::string error; // "invalid", "resources", "read", "open" or another class
    std::string message;
    TBitmap picture;
};

Outcome Read(const fs::path &file)
{
    Outcome o;
    try {
        LoadBitmapFile(o.picture, file.string());
        o.ok = true;
    } catch (const EInvalidGraphic &e) {
        o.error = "invalid", o.message = e.Message();
    } catch (const EOutOfResources &e) {
        o.error = "resources", o.message = e.Message();
    } catch (const EReadError &e) {
        o.error = "read", o.message = e.Message();
    } catch (const EFOpenError &e) {
        o.error = "open", o.message = e.Message();
    } catch (const EPlatformError &e) {
        o.error = "other", o.message = e.Message();
    }
    if (!o.ok) {
        EXPECT_TRUE(o.picture.Empty()) << "a failed read must leave the bitmap empty";
    }
    // Every pixel of a picture is opaque, whatever the file says or leaves out.
    for (int y = 0; y < o.picture.Height(); ++y)
        for (int x = 0; x < o.picture.Width(); ++x)
            if (o.picture.ScanLine(y)[x] >> 24 != 0xFF) {
                ADD_FAILURE() << "pixel " << x << "," << y << " is not opaque";
                return o;
            }
    return o;
}

#ifdef KETTO_HAVE_QT_ORACLE
// The number of pixels whose colour differs from Qt's reading of the same file, or -1 when the
// sizes differ. The first difference is described in `first`.
long DifferencesFromQt(const TBitmap &ours, const QImage &original, std::string &first)
{
    const QImage qt = original.convertToFormat(QImage::Format_RGB32);
    if (qt.width() != ours.Width() || qt.height() != ours.Height()) {
        first = "size " + std::to_string(ours.Width()) + "x" + std::to_string(ours.Height()) +
                " against Qt's " + std::to_string(qt.width()) + "x" + std::to_string(qt.height());
        return -1;
    }
    long differences = 0;
    for (int y = 0; y < qt.height(); ++y)
        for (int x = 0; x < qt.width(); ++x) {
            const uint32_t want = qt.pixel(x, y) & 0xFFFFFFu;
            const uint32_t got = ours.ScanLine(y)[x] & 0xFFFFFFu;
            if (want != got && differences++ == 0) {
                char text[96];
                std::snprintf(text, sizeof text, "(%d,%d) is %06X, Qt has %06X", x, y, got, want);
                first = text;
            }
        }
    return differences;
}
#endif

TEST(BmpCorpus, GoodFilesMatchQtExceptTheNewerHeaders)
{
    SKIP_WITHOUT_CORPUS();
    const auto files = CorpusFiles("g");
    ASSERT_FALSE(files.empty());
    for (const auto &file : files) {
        SCOPED_TRACE(file.filename().string());
        const Outcome o = Read(file);
        const std::string name = file.filename().string();
        if (name == "pal8v4.bmp" || name == "pal8v5.bmp") {
            EXPECT_EQ(o.error, "invalid");
            EXPECT_EQ(o.message, "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です");
            continue;
        }
        ASSERT_TRUE(o.ok) << o.message;
        EXPECT_FALSE(o.picture.Empty());
#ifdef KETTO_HAVE_QT_ORACLE
        const QImage qt(QString::fromStdString(file.string()));
        ASSERT_FALSE(qt.isNull()) << "Qt cannot read it";
        std::string first;
        EXPECT_EQ(DifferencesFromQt(o.picture, qt, first), 0) << first;
#endif
    }
#ifndef KETTO_HAVE_QT_ORACLE
    GTEST_SKIP() << "Built without Qt: the good files were read but not compared";
#endif
}

// What each bad file comes to. Files added to the folder later are only required to end in
// one of our errors or a picture.
TEST(BmpCorpus, BadFilesEndInAClearErrorOrAPicture)
{
    SKIP_WITHOUT_CORPUS();
    const std::map<std::string, std::string> expected = {
        {"badbitcount.bmp", "invalid"},
        {"badbitssize.bmp", "picture"},   // biSizeImage is never trusted
        {"baddens1.bmp", "picture"},      // resolution is never read
        {"baddens2.bmp", "picture"},
        {"badfilesize.bmp", "picture"},   // bfSize is never trusted
        {"badheadersize.bmp", "invalid"},
        {"badpalettesize.bmp", "picture"}, // the table is cut at the pixels
        {"badplanes.bmp", "invalid"},
        {"badrle.bmp", "picture"},        // runs are cut at the row's end
        {"badrle4.bmp", "picture"},
        {"badrle4bis.bmp", "picture"},
        {"badrle4ter.bmp", "picture"},
        {"badrlebis.bmp", "picture"},
        {"badrleter.bmp", "picture"},
        {"badwidth.bmp", "invalid"},
        {"pal8badindex.bmp", "picture"},  // indices past the table are black
        {"reallybig.bmp", "resources"},
        {"rgb16-880.bmp", "picture"},     // a zero mask is a channel that is always 0
        {"rletopdown.bmp", "invalid"},
        {"shortfile.bmp", "invalid"},
    };
    for (const auto &file : CorpusFiles("b")) {
        SCOPED_TRACE(file.filename().string());
        const Outcome o = Read(file);
        EXPECT_TRUE(o.ok || o.error == "invalid" || o.error == "resources") << o.error;
        if (o.ok) {
            EXPECT_FALSE(o.picture.Empty());
        }
        if (auto it = expected.find(file.filename().string()); it != expected.end()) {
            EXPECT_EQ(o.ok ? "picture" : o.error, it->second) << o.message;
        }
    }
}

// The questionable files only have to be survived; what came of each is printed for review,
// with Qt's opinion where Qt reads the file too.
TEST(BmpCorpus, QuestionableFilesEndInAnErrorOrAPicture)
{
    SKIP_WITHOUT_CORPUS();
    for (const auto &file : CorpusFiles("q")) {
        SCOPED_TRACE(file.filename().string());
        const Outcome o = Read(file);
        EXPECT_TRUE(o.ok || o.error == "invalid" || o.error == "resources") << o.error;
        std::string note = o.ok ? "picture" : o.error;
#ifdef KETTO_HAVE_QT_ORACLE
        const QImage qt(QString::fromStdString(file.string()));
        if (qt.isNull()) {
            note += ", Qt refuses";
        } else if (o.ok) {
            std::string first;
            const long d = DifferencesFromQt(o.picture, qt, first);
            note += d == 0 ? ", same as Qt" : ", differs from Qt: " + first;
        } else {
            note += ", Qt reads it";
        }
#endif
        std::printf("  q/%-24s %s\n", file.filename().c_str(), note.c_str());
    }
}

std::string TempPath(const char *name)
{
    return (fs::temp_directory_path() / (std::to_string(::getpid()) + "-" + name)).string();
}

void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
}

TEST(BmpReader, FileErrorsCarryThePlatformMessages)
{
    DibLayout v4{.headerSize = 108, .width = 2, .height = 2, .pixels = std::vector<uint8_t>(16)};
    DibLayout v5 = v4;
    v5.headerSize = 124;
    const std::vector<uint8_t> plain = MakeBmp({.pixels = {1, 2, 3, 0}});
    std::vector<uint8_t> notBm = plain;
    notBm[0] = 'M', notBm[1] = 'B';
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        const char *message;
    } cases[] = {
        {"one byte", {'B'}, "ｽﾄﾘｰﾑからの読み込みｴﾗｰ"},
        {"13 bytes", std::vector<uint8_t>(plain.begin(), plain.begin() + 13),
         "ｽﾄﾘｰﾑからの読み込みｴﾗｰ"},
        {"not BM", notBm, "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です"},
        {"header 108", MakeBmp(v4), "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です"},
        {"header 124", MakeBmp(v5), "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です"},
        {"header cut", std::vector<uint8_t>(plain.begin(), plain.begin() + 30),
         "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です"},
    };
    const std::string path = TempPath("error.bmp");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(path, c.bytes);
        TBitmap b(3, 3);
        try {
            LoadBitmapFile(b, path);
            ADD_FAILURE() << "no error";
        } catch (const EPlatformError &e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_TRUE(b.Empty());
    }
    fs::remove(path);
}

TEST(BmpReader, MissingFileOrFolderCannotBeOpened)
{
    const std::string missing = "/nonexistent-folder/写真.bmp";
    for (const std::string &name : {missing, fs::temp_directory_path().string()}) {
        TBitmap b(2, 2);
        try {
            LoadBitmapFile(b, name);
            ADD_FAILURE() << "no error for " << name;
        } catch (const EFOpenError &e) {
            EXPECT_EQ(e.Message(), "ﾌｧｲﾙ " + name + " は開けません");
        }
        EXPECT_TRUE(b.Empty());
    }
}

TEST(BmpReader, EmptyFileLeavesAnEmptyBitmapWithoutError)
{
    const std::string path = TempPath("empty.bmp");
    WriteFile(path, {});
    TBitmap b(4, 4);
    EXPECT_NO_THROW(LoadBitmapFile(b, path));
    EXPECT_TRUE(b.Empty());
    fs::remove(path);
}

// Pictures two or three pixels wide whose every pixel differs, in each format the reader knows.
struct DecodeCase {
    const char *name;
    DibLayout layout;
    std::vector<uint32_t> want; // top row first
};

const uint32_t R = 0xFF0000, G = 0x00FF00, B = 0x0000FF, W = 0xFFFFFF, K = 0x000000;

std::vector<DecodeCase> DecodeCases()
{
    const auto pal4 = Palette({K, R, G, B});
    return {
        {"1 bpp, 9 wide crosses a byte",
         {.width = 9, .height = 1, .bitCount = 1, .palette = Palette({R, B}),
          .pixels = {0b10100000, 0b10000000, 0, 0}},
         {B, R, B, R, R, R, R, R, B}},
        {"4 bpp, bottom-up",
         {.width = 3, .height = 2, .bitCount = 4, .palette = pal4,
          .pixels = {0x12, 0x30, 0, 0, 0x32, 0x10, 0, 0}},
         {B, G, R, R, G, B}},
        {"8 bpp, top-down",
         {.width = 2, .height = -2, .bitCount = 8, .palette = pal4,
          .pixels = {1, 2, 0, 0, 3, 0, 0, 0}},
         {R, G, B, K}},
        {"8 bpp, index past a short table is black",
         {.width = 2, .height = 1, .bitCount = 8, .colorsUsed = 2, .palette = Palette({R, G}),
          .pixels = {1, 200, 0, 0}},
         {G, K}},
        {"16 bpp, 5-5-5 without masks, narrow channels shifted up",
         {.width = 2, .height = 1, .bitCount = 16, .pixels = {0x00, 0x7C, 0x1F, 0x00}},
         {0xF80000, 0x0000F8}},
        {"16 bpp, 5-6-5 masks",
         {.width = 2, .height = 1, .bitCount = 16, .compression = 3,
          .masks = {0xF800, 0x07E0, 0x001F}, .pixels = {0xE0, 0x07, 0x10, 0x84}},
         {0x00FC00, 0x808080}},
        {"24 bpp, last row's padding missing",
         {.width = 1, .height = 2, .bitCount = 24, .pixels = {0xFF, 0, 0, 0, 0, 0, 0xFF}},
         {R, B}},
        {"32 bpp, alpha byte ignored",
         {.width = 2, .height = 1, .bitCount = 32, .pixels = {1, 2, 3, 0x00, 4, 5, 6, 0x80}},
         {0x030201, 0x060504}},
        {"32 bpp, reversed masks",
         {.width = 1, .height = 1, .bitCount = 32, .compression = 3,
          .masks = {0x000000FF, 0x0000FF00, 0x00FF0000}, .pixels = {0x11, 0x22, 0x33, 0}},
         {0x112233}},
        {"32 bpp, a zero mask is a channel of 0",
         {.width = 1, .height = 1, .bitCount = 32, .compression = 3,
          .masks = {0x00FF0000, 0x0000FF00, 0}, .pixels = {0x11, 0x22, 0x33, 0}},
         {0x332200}},
        {"core header, 8 bpp with 3-byte entries",
         {.headerSize = 12, .width = 2, .height = 1, .bitCount = 8,
          .palette = [] { auto p = Palette({R, G}, 3); p.resize(256 * 3); return p; }(),
          .pixels = {1, 0, 0, 0}},
         {G, R}},
        {"core header, 24 bpp",
         {.headerSize = 12, .width = 1, .height = 1, .bitCount = 24, .pixels = {3, 2, 1, 0}},
         {0x010203}},
        {"offset 0: pixels follow the table",
         {.width = 1, .height = 1, .bitCount = 8, .colorsUsed = 2, .palette = Palette({R, G}),
          .pixels = {1, 0, 0, 0}, .offBits = 0},
         {G}},
        {"offset leaves a gap after the table",
         {.width = 1, .height = 1, .bitCount = 8, .colorsUsed = 2, .palette = Palette({R, G}),
          .pixels = {1, 0, 0, 0}, .offBits = 100},
         {G}},
        {"RLE8: run, literal, end of row, end of picture",
         {.width = 3, .height = 2, .bitCount = 8, .compression = 1, .palette = pal4,
          .pixels = {2, 1, 0, 0, 0, 3, 3, 2, 1, 0, 0, 1}},
         {B, G, R, R, R, K}},
        {"RLE8: delta skips pixels, which keep colour 0",
         {.width = 3, .height = 2, .bitCount = 8, .compression = 1, .palette = pal4,
          .pixels = {0, 2, 1, 1, 1, 3, 0, 1}},
         {K, B, K, K, K, K}},
        {"RLE8: a run past the row's end is cut there",
         {.width = 2, .height = 2, .bitCount = 8, .compression = 1, .palette = pal4,
          .pixels = {9, 2, 0, 0, 1, 3, 0, 1}},
         {B, K, G, G}},
        {"RLE8: the stream ends early",
         {.width = 2, .height = 2, .bitCount = 8, .compression = 1, .palette = pal4,
          .pixels = {2, 1, 0}},
         {K, K, R, R}},
        {"RLE4: alternating run and literal",
         {.width = 3, .height = 1, .bitCount = 4, .compression = 2, .palette = pal4,
          .pixels = {2, 0x12, 0, 1}},
         {R, G, K}},
        {"RLE4: literal of three",
         {.width = 3, .height = 1, .bitCount = 4, .compression = 2, .palette = pal4,
          .pixels = {0, 3, 0x32, 0x10, 0, 1}},
         {B, G, R}},
    };
}

TEST(BmpReader, DecodesEachFormat)
{
    for (const DecodeCase &c : DecodeCases()) {
        SCOPED_TRACE(c.name);
        TBitmap b;
        try {
            LoadBitmapBytes(b, MakeBmp(c.layout));
        } catch (const EPlatformError &e) {
            ADD_FAILURE() << e.Message();
            continue;
        }
        ASSERT_EQ(b.Width(), c.layout.width);
        ASSERT_EQ(b.Height(), std::abs(c.layout.height));
        EXPECT_THAT(Rgb(b), ::testing::ElementsAreArray(c.want));
        // The alpha byte is always set, so the picture is opaque when shown.
        for (int y = 0; y < b.Height(); ++y)
            for (int x = 0; x < b.Width(); ++x)
                EXPECT_EQ(b.ScanLine(y)[x] >> 24, 0xFFu) << x << "," << y;
    }
}

TEST(BmpReader, RefusesFilesThatCannotBeRead)
{
    const DibLayout ok{.width = 2, .height = 2, .bitCount = 8, .palette = Palette({R, G}),
                     .pixels = std::vector<uint8_t>(8)};
    auto with = [&](auto change) {
        DibLayout s = ok;
        change(s);
        return MakeBmp(s);
    };
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        bool resources = false;
    } cases[] = {
        {"two planes", with([](DibLayout &s) { s.planes = 2; })},
        {"2 bits per pixel", with([](DibLayout &s) { s.bitCount = 2; })},
        {"0 bits per pixel", with([](DibLayout &s) { s.bitCount = 0; })},
        {"width 0", with([](DibLayout &s) { s.width = 0; })},
        {"negative width", with([](DibLayout &s) { s.width = -2; })},
        {"height 0", with([](DibLayout &s) { s.height = 0; })},
        {"RLE8 at 4 bpp", with([](DibLayout &s) { s.compression = 1, s.bitCount = 4; })},
        {"RLE4 at 8 bpp", with([](DibLayout &s) { s.compression = 2; })},
        {"RLE top-down", with([](DibLayout &s) { s.compression = 1, s.height = -2; })},
        {"bit fields at 24 bpp", with([](DibLayout &s) { s.compression = 3, s.bitCount = 24; })},
        {"JPEG inside", with([](DibLayout &s) { s.compression = 4, s.bitCount = 24; })},
        {"bit fields without masks",
         MakeBmp({.width = 1, .height = 1, .bitCount = 32, .compression = 3, .offBits = 54})},
        {"a row missing", with([](DibLayout &s) { s.pixels.resize(5); })},
        {"offset past the end", [&] {
             auto bytes = MakeBmp(ok);
             bytes[11] = 0x13; // bfOffBits 0x1300 + 0x3E, far beyond the file
             return bytes;
         }()},
        {"no pixels at all", with([](DibLayout &s) { s.pixels.clear(); })},
        {"core header, 16 bpp",
         MakeBmp({.headerSize = 12, .bitCount = 16, .pixels = std::vector<uint8_t>(4)})},
        {"wider than any side", with([](DibLayout &s) { s.width = (1 << 20) + 1; }), true},
        {"too many pixels", with([](DibLayout &s) { s.width = s.height = 1 << 15; }), true},
        {"3000000 x 2000000", with([](DibLayout &s) { s.width = 3000000, s.height = 2000000; }), true},
        {"height -2^31", with([](DibLayout &s) { s.height = INT32_MIN; }), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap b(5, 5);
        if (c.resources) {
            EXPECT_THROW(LoadBitmapBytes(b, c.bytes), EOutOfResources);
        } else {
            EXPECT_THROW(LoadBitmapBytes(b, c.bytes), EInvalidGraphic);
        }
        EXPECT_TRUE(b.Empty());
    }
}

TEST(BmpReader, PastCrashInputsEndInAnErrorOrAPicture)
{
    const fs::path folder = fs::path(KETTO_FIXTURES_DIR) / "bmp";
    if (!fs::is_directory(folder))
        GTEST_SKIP() << "the hostile inputs folder is missing";
    for (const auto &entry : fs::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().filename().string());
        const Outcome o = Read(entry.path());
        EXPECT_TRUE(o.ok || o.error == "invalid" || o.error == "resources") << o.message;
    }
}

} // namespace
