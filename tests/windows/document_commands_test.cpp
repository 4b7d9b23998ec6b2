// The canvas document commands: New, Open, Save, Save as, Copy and Paste.
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/bmp.h"
#include "platform/widgets/clipboard.h"
#include "windows_fixture.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

bool SamePixels(const TBitmap &a, const TBitmap &b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        if (!std::equal(a.ScanLine(y), a.ScanLine(y) + a.Width(), b.ScanLine(y)))
            return false;
    return true;
}

bool AllBlack(const TBitmap &bitmap)
{
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (bitmap.Canvas().Pixels(x, y) != clBlack)
                return false;
    return true;
}

// A picture whose every pixel differs from its neighbours, so a shifted or flipped copy shows.
TBitmap Pattern(int width, int height)
{
    TBitmap bitmap(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap.ScanLine(y)[x] = 0xFF000000u | uint32_t(x * 2654435761u + y * 40503u) >> 8;
    return bitmap;
}

uint32_t Crc32(const char *data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint8_t(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A real one-pixel PNG whose header then claims another size, with a matching checksum, so
// that only the size is wrong.
QByteArray PngClaiming(uint32_t width, uint32_t height)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImage(1, 1, QImage::Format_RGB32).save(&buffer, "PNG");
    // Signature (8), then the IHDR chunk: length (4), type (4), width, height, ..., CRC.
    const auto bigEndian = [&png](int at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            png[at + i] = char(value >> (24 - 8 * i));
    };
    bigEndian(16, width);
    bigEndian(20, height);
    bigEndian(29, Crc32(png.constData() + 12, 17));
    return png;
}

TBitmap &CanvasBitmap() { return *Form1->Image1->Picture(); }

class DocumentCommandsTest : public WindowsTest {
protected:
    void SetUp() override
    {
        WindowsTest::SetUp();
        Form1->ExecuteFileDialog = [this](QFileDialog &dialog) {
            const auto *nameBox = dialog.findChild<QLineEdit *>("fileNameEdit");
            shown.push_back({&dialog, nameBox ? nameBox->text() : QString()});
            if (answers.empty())
                return false;
            const std::string answer = answers.front();
            answers.pop_front();
            if (answer.empty())
                return false;
            dialog.selectFile(QString::fromStdString(answer));
            return true;
        };
    }

    // Answers the next showing of the new-canvas dialog with these texts and OK.
    void AnswerNew(const char *width, const char *height)
    {
        QTimer::singleShot(0, Form3, [width, height] {
            Form3->Edit1->setText(width);
            Form3->Edit2->setText(height);
            Form3->Button1->click();
        });
    }
    void New(const char *width, const char *height)
    {
        AnswerNew(width, height);
        Form1->New1->trigger();
    }
    // Runs the Save as command with the file dialog answering this name ("" cancels).
    void SaveAs(const std::string &name)
    {
        answers.push_back(name);
        Form1->Saveas1->trigger();
    }
    void Open(const std::string &name)
    {
        answers.push_back(name);
        Form1->OPen1->trigger();
    }

    struct Shown {
        QFileDialog *dialog;
        QString nameBox; // the file name the dialog opened with
    };
    std::deque<std::string> answers; // the file each dialog confirms; "" cancels
    std::vector<Shown> shown;
    TempDir dir;
};

TEST_F(DocumentCommandsTest, NewMakesABlackCanvasOfTheTypedSizeAndKeepsTheRest)
{
    HasFileName = 1;
    Form1->StampIndex = 7;
    New("640", "480");
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(Form1->Image1->size(), QSize(640, 480));
    EXPECT_EQ(CanvasBitmap().Width(), 640);
    EXPECT_EQ(CanvasBitmap().Height(), 480);
    EXPECT_TRUE(AllBlack(CanvasBitmap()));
    EXPECT_EQ(HasFileName, 0);
    EXPECT_EQ(Form1->StampIndex, 7);
    EXPECT_EQ(Form1->ClientWidth(), 400);
    EXPECT_EQ(Form1->ClientHeight(), 400);
    EXPECT_FALSE(Form1->Image2->HasPicture());

    New("1", "1");
    EXPECT_EQ(Form1->Image1->size(), QSize(1, 1));
    EXPECT_EQ(CanvasBitmap().Width(), 1);
    EXPECT_EQ(CanvasBitmap().Canvas().Pixels(0, 0), clBlack);
}

TEST_F(DocumentCommandsTest, NewCancelledOrRefusedLeavesTheCanvasAsItWas)
{
    struct Row {
        const char *what;
        std::function<void()> answer;
        const char *message; // null when nothing is reported
    };
    const auto ok = [](const char *w, const char *h) {
        return [w, h] {
            Form3->Edit1->setText(w);
            Form3->Edit2->setText(h);
            Form3->Button1->click();
        };
    };
    const Row rows[] = {
        {"CANCEL", [] { Form3->Button2->click(); }, nullptr},
        {"close box", [] { Form3->close(); }, nullptr},
        {"zero width", ok("0", "10"), Msg::OutOfResources},
        {"zero height", ok("10", "0"), Msg::OutOfResources},
        {"negative", ok("-5", "5"), Msg::OutOfResources},
        {"side too long", ok("2000000", "1"), Msg::OutOfResources},
        {"too many pixels", ok("30000", "30000"), Msg::OutOfResources},
        {"huge hexadecimal", ok("$7FFFFFFF", "$7FFFFFFF"), Msg::OutOfResources},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        errors.clear();
        HasFileName = 1;
        CanvasBitmap().ScanLine(3)[5] = 0xFF123456u;
        QTimer::singleShot(0, Form3, row.answer);
        Form1->New1->trigger();
        if (row.message) {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0].text, QString::fromUtf8(row.message) + ".");
        } else {
            EXPECT_TRUE(errors.empty());
        }
        ASSERT_TRUE(Form1->Image1->HasPicture());
        EXPECT_EQ(Form1->Image1->size(), QSize(400, 400));
        EXPECT_EQ(CanvasBitmap().Width(), 400);
        EXPECT_EQ(CanvasBitmap().Height(), 400);
        EXPECT_EQ(CanvasBitmap().ScanLine(3)[5], 0xFF123456u);
        EXPECT_EQ(HasFileName, 1);
    }
}

TEST_F(DocumentCommandsTest, SaveAsNamesTheFileAndSaveReusesThatName)
{
    // Save without a name is Save as, and the dialog offers "*.bmp".
    Form1->Save1->trigger();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].dialog, Form1->SaveDialog1);
    EXPECT_EQ(shown[0].nameBox, "*.bmp");
    EXPECT_EQ(HasFileName, 0);

    // A typed name without extension gets ".bmp".
    SaveAs(dir.file("picture"));
    const std::string file = dir.file("picture.bmp");
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(HasFileName, 1);
    EXPECT_EQ(Form1->SaveFileName, file);
    EXPECT_EQ(Bytes(file), EncodeBitmapFile(CanvasBitmap()));

    // Save then writes over the same file without asking.
    CanvasBitmap().ScanLine(0)[0] = 0xFFFFFFFFu;
    Form1->Save1->trigger();
    EXPECT_EQ(shown.size(), 2u);
    EXPECT_EQ(Bytes(file), EncodeBitmapFile(CanvasBitmap()));
    EXPECT_FALSE(fs::exists(dir.file("picture")));

    // Save as with a name offers that name again; cancelling keeps it.
    SaveAs("");
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[2].nameBox, "picture.bmp");
    EXPECT_EQ(HasFileName, 1);
    EXPECT_EQ(Form1->SaveFileName, file);

    // A new canvas has no name: Save asks again, with "*.bmp".
    New("2", "2");
    Form1->Save1->trigger();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[3].nameBox, "*.bmp");
    EXPECT_EQ(HasFileName, 0);
    EXPECT_EQ(Bytes(file).size(), 54u + 400 * 1200);
}

TEST_F(DocumentCommandsTest, SaveWritesTheCanvasAsA24BitFile)
{
    for (int width : {400, 401}) {
        SCOPED_TRACE(width);
        const std::string text = std::to_string(width);
        New(text.c_str(), "3");
        TBitmap &canvas = CanvasBitmap();
        canvas.ScanLine(2)[0] = PixelFromColor(0x00332211); // bottom-left: the file's first pixel
        canvas.ScanLine(0)[width - 1] = PixelFromColor(0x00665544);
        const std::string file = dir.file("w" + text + ".bmp");
        SaveAs(file);

        const std::vector<uint8_t> bytes = Bytes(file);
        const size_t row = (size_t(width) * 3 + 3) / 4 * 4;
        ASSERT_EQ(bytes.size(), 54 + 3 * row);
        EXPECT_EQ(bytes[10], 54); // the pixel rows' offset
        EXPECT_EQ(bytes[28], 24); // bits per pixel
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 54, bytes.begin() + 57),
                  (std::vector<uint8_t>{0x33, 0x22, 0x11}));
        const size_t last = 54 + 2 * row + size_t(width - 1) * 3;
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + last, bytes.begin() + last + 3),
                  (std::vector<uint8_t>{0x66, 0x55, 0x44}));
        EXPECT_EQ(bytes, EncodeBitmapFile(canvas));
    }
}

TEST_F(DocumentCommandsTest, SaveThatCannotCreateTheFileReportsItAndKeepsTheName)
{
    // Through Save as: a name the file system refuses, in a folder that exists. (The dialog
    // lists the folder of any name it is given, and Qt reads files there to tell their kind,
    // so a test must never hand it a folder such as /proc, whose files block a reader.)
    const std::string tooLong = dir.file(std::string(300, 'n') + ".bmp");
    SaveAs(tooLong);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text.toStdString(), FormatMessage(Msg::FCreateError, tooLong) + ".");
    // Save as was confirmed, so the canvas has its name all the same.
    EXPECT_EQ(HasFileName, 1);
    EXPECT_EQ(Form1->SaveFileName, tooLong);

    // Through Save, with the name already given.
    fs::create_directory(dir.file("folder.bmp"));
    Write(dir.file("plain"), "a file, not a folder");
    for (const std::string &file :
         {dir.file("missing/picture.bmp"), dir.file("folder.bmp"), dir.file("plain/picture.bmp")}) {
        SCOPED_TRACE(file);
        errors.clear();
        Form1->SaveFileName = file;
        Form1->Save1->trigger();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].text.toStdString(), FormatMessage(Msg::FCreateError, file) + ".");
        EXPECT_FALSE(fs::is_regular_file(file));
        EXPECT_EQ(HasFileName, 1);
    }
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST_F(DocumentCommandsTest, SaveThatFallsShortKeepsTheOldFile)
{
    const std::string file = dir.file("old.bmp");
    Write(file, "the old file, whole");
    const std::vector<uint8_t> before = Bytes(file);
    HasFileName = 1;
    Form1->SaveFileName = file;

    // The file size limit applies to the child alone, so the rest of the tests write freely.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        Form1->Save1->trigger();
        const bool reported = errors.size() == 1 && errors[0].text.toStdString() == std::string(Msg::WriteError) + ".";
        _exit(reported ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child saw no write error";
    EXPECT_EQ(Bytes(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST_F(DocumentCommandsTest, OpenReplacesTheCanvasWithThePicture)
{
    const TBitmap picture = Pattern(300, 200);
    const std::string file = dir.file("picture.bmp");
    SaveBitmapFile(picture, file);
    HasFileName = 1;
    Form1->SaveFileName = dir.file("target.bmp");
    Form1->StampIndex = 3;

    Open(file);
    EXPECT_TRUE(errors.empty());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].dialog, Form1->OpenDialog1);
    EXPECT_EQ(Form1->Image1->size(), QSize(300, 200));
    EXPECT_TRUE(SamePixels(CanvasBitmap(), picture));
    EXPECT_EQ(Form1->Image2->size(), QSize(300, 200));
    EXPECT_TRUE(SamePixels(*Form1->Image2->Picture(), picture));
    EXPECT_EQ(HasFileName, 0);
    EXPECT_EQ(Form1->SaveFileName, "");
    EXPECT_EQ(Form1->StampIndex, 3);

    // Drawing on the canvas leaves the staging image's copy alone.
    CanvasBitmap().ScanLine(0)[0] = 0xFFFFFFFFu;
    EXPECT_TRUE(SamePixels(*Form1->Image2->Picture(), picture));

    // Cancelled, Open changes nothing.
    Open("");
    EXPECT_EQ(CanvasBitmap().ScanLine(0)[0], 0xFFFFFFFFu);
    EXPECT_EQ(Form1->Image1->size(), QSize(300, 200));
}

TEST_F(DocumentCommandsTest, OpenOfAnUnreadableFileReportsItAndChangesNothing)
{
    // The staging image already holds an earlier picture, which must not reach the canvas.
    const std::string earlier = dir.file("earlier.bmp");
    SaveBitmapFile(Pattern(32, 16), earlier);
    ASSERT_TRUE(Form1->TryLoadGra(earlier));

    struct Row {
        const char *name;
        std::string bytes;
        std::string message;
    };
    const Row rows[] = {
        {"corrupt.bmp", std::string("BM") + std::string(60, '\x7f'), std::string(Msg::InvalidBitmap) + "."},
        {"notes.txt", "no reader accepts this", FormatMessage(Msg::FOpenError, dir.file("notes.txt")) + "."},
        {"fake.gif", "GIF89a but nothing more", FormatMessage(Msg::FOpenError, dir.file("fake.gif")) + "."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        errors.clear();
        Write(dir.file(row.name), row.bytes);
        HasFileName = 1;
        Form1->SaveFileName = dir.file("target.bmp");
        CanvasBitmap().ScanLine(1)[1] = 0xFF654321u;

        Open(dir.file(row.name));
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].text.toStdString(), row.message);
        EXPECT_EQ(Form1->Image1->size(), QSize(400, 400));
        EXPECT_EQ(CanvasBitmap().Width(), 400);
        EXPECT_EQ(CanvasBitmap().ScanLine(1)[1], 0xFF654321u);
        EXPECT_EQ(HasFileName, 1);
        EXPECT_EQ(Form1->SaveFileName, dir.file("target.bmp"));
    }
}

TEST_F(DocumentCommandsTest, CopyAndPasteGoThroughTheSystemClipboard)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    const TBitmap picture = Pattern(400, 400);
    Form1->Image1->SetPicture(picture);

    Form1->Copy1->trigger();
    const QImage copied = clipboard->image().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(copied.size(), QSize(400, 400));
    EXPECT_EQ(copied.pixel(7, 9), picture.ScanLine(9)[7]);
    EXPECT_TRUE(Clipboard().HasFormat(CF_BITMAP));

    // Paste of the canvas's own copy gives the same picture back.
    New("10", "10");
    HasFileName = 1;
    Form1->NewPaste1->trigger();
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(SamePixels(CanvasBitmap(), picture));

    // A smaller picture replaces the bitmap; the control keeps its size.
    QImage small(50, 50, QImage::Format_RGB32);
    small.fill(QColor(10, 20, 30));
    clipboard->setImage(small);
    Form1->NewPaste1->trigger();
    EXPECT_EQ(Form1->Image1->size(), QSize(10, 10));
    EXPECT_EQ(CanvasBitmap().Width(), 50);
    EXPECT_EQ(CanvasBitmap().Height(), 50);
    EXPECT_EQ(CanvasBitmap().Canvas().Pixels(49, 49), TColor(0x001E140A));
    EXPECT_EQ(HasFileName, 1);
    // The clipboard keeps what it held.
    EXPECT_EQ(clipboard->image().size(), QSize(50, 50));

    // Save and Copy then take the pasted bitmap at its own size.
    Form1->SaveFileName = dir.file("pasted.bmp");
    Form1->Save1->trigger();
    EXPECT_EQ(Bytes(dir.file("pasted.bmp")), EncodeBitmapFile(CanvasBitmap()));
    clipboard->clear();
    Form1->Copy1->trigger();
    EXPECT_EQ(clipboard->image().size(), QSize(50, 50));
}

TEST_F(DocumentCommandsTest, PasteTakesAPictureAnotherProgramOffers)
{
    // Other programs offer encoded pictures, such as image/png, with some transparency.
    QImage offered(3, 2, QImage::Format_ARGB32);
    offered.fill(qRgba(200, 100, 50, 255));
    offered.setPixel(2, 1, qRgba(0, 0, 0, 0));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(offered.save(&buffer, "PNG"));
    auto *data = new QMimeData;
    data->setData("image/png", png);
    data->setText("a picture");
    QGuiApplication::clipboard()->setMimeData(data);

    ASSERT_TRUE(Clipboard().HasFormat(CF_BITMAP));
    Form1->NewPaste1->trigger();
    EXPECT_TRUE(errors.empty());
    ASSERT_EQ(CanvasBitmap().Width(), 3);
    ASSERT_EQ(CanvasBitmap().Height(), 2);
    EXPECT_EQ(CanvasBitmap().Canvas().Pixels(0, 0), TColor(0x003264C8));
    // The bitmap has no transparency: every pixel is opaque.
    EXPECT_EQ(CanvasBitmap().ScanLine(1)[2] >> 24, 0xFFu);
}

TEST_F(DocumentCommandsTest, PasteWithoutAUsablePictureChangesNothing)
{
    // A PNG whose header claims 20000 x 20000 pixels, more than the program holds.
    const QByteArray huge = PngClaiming(20000, 20000);
    struct Row {
        const char *what;
        const char *type;
        QByteArray bytes;
        const char *message; // null when Paste does nothing and says nothing
    };
    const Row rows[] = {
        {"text only", "text/plain", "hello", nullptr},
        {"no picture data", "image/png", "not a png at all", Msg::UnknownClipboardFormat},
        {"empty picture", "image/bmp", "", Msg::UnknownClipboardFormat},
        {"beyond the limits", "image/png", huge, Msg::OutOfResources},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        errors.clear();
        CanvasBitmap().ScanLine(2)[2] = 0xFF0A0B0Cu;
        auto *data = new QMimeData;
        data->setData(row.type, row.bytes);
        QGuiApplication::clipboard()->setMimeData(data);

        Form1->NewPaste1->trigger();
        if (row.message) {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0].text, QString::fromUtf8(row.message) + ".");
        } else {
            EXPECT_TRUE(errors.empty());
        }
        EXPECT_EQ(CanvasBitmap().Width(), 400);
        EXPECT_EQ(CanvasBitmap().ScanLine(2)[2], 0xFF0A0B0Cu);
    }
}

TEST_F(DocumentCommandsTest, PasteOfASmallerPictureShowsTheBackgroundAroundIt)
{
    Form1->show();
    Form1->Image1->SetPicture(Pattern(400, 400));
    QApplication::processEvents();
    QImage small(50, 50, QImage::Format_RGB32);
    small.fill(Qt::yellow);
    QGuiApplication::clipboard()->setImage(small);
    Form1->NewPaste1->trigger();

    // The control paints the part its picture no longer covers with the background; without
    // that, the old picture would stay visible around the pasted one.
    QApplication::processEvents();
    const QImage shown = Form1->Image1->grab().toImage();
    const QPoint inside(10, 10);
    const QPoint outside(200, 200);
    EXPECT_EQ(QColor(shown.pixel(inside)), QColor(Qt::yellow));
    EXPECT_EQ(QColor(shown.pixel(outside)), QColor(0, 128, 128));
}

} // namespace
