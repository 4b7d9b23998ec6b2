// Stamping: the choice of entry, the options' effect on the canvas pixels, presses and moves,
// the arrow keys, and the failures.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QKeyEvent>

#include <fstream>
#include <functional>

#include "canvas_window/stamping.h"
#include "platform/bmp.h"
#include "windows_fixture.h"

namespace {

// Sends one key press to the widget, as the window system would to the focused one.
void Press(QWidget *widget, int key, Qt::KeyboardModifiers modifiers = {})
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(widget, &event);
}

constexpr TColor clRed = 0x000000FF;
constexpr TColor clBlue = 0x00FF0000;
constexpr TColor clGreen = 0x00008000;

using Painter = std::function<TColor(int x, int y)>;

TColor Solid(int, int) { return clBlue; }

// A GIF with a 256-colour table whose LZW stream never grows past 9-bit codes: a clear code
// every 100 pixels keeps the decoder's table small, so no compressor is needed.
std::vector<uint8_t> EncodeGif(int width, int height, const Painter &paint)
{
    std::vector<TColor> palette;
    std::vector<uint8_t> indices;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TColor c = paint(x, y);
            auto it = std::find(palette.begin(), palette.end(), c);
            if (it == palette.end())
                it = palette.insert(palette.end(), c);
            indices.push_back(static_cast<uint8_t>(it - palette.begin()));
        }
    palette.resize(256);

    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    auto word = [&](int v) {
        out.push_back(v & 0xFF);
        out.push_back((v >> 8) & 0xFF);
    };
    word(width);
    word(height);
    out.insert(out.end(), {0xF7, 0, 0});
    for (TColor c : palette)
        out.insert(out.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
    out.push_back(0x2C);
    word(0);
    word(0);
    word(width);
    word(height);
    out.push_back(0);
    out.push_back(8);

    std::vector<uint8_t> stream;
    uint32_t bits = 0;
    int count = 0;
    auto code = [&](int c) {
        bits |= uint32_t(c) << count;
        count += 9;
        while (count >= 8) {
            stream.push_back(bits & 0xFF);
            bits >>= 8;
            count -= 8;
        }
    };
    for (size_t i = 0; i < indices.size(); ++i) {
        if (i % 100 == 0)
            code(256);
        code(indices[i]);
    }
    code(257);
    if (count > 0)
        stream.push_back(bits & 0xFF);
    for (size_t i = 0; i < stream.size(); i += 255) {
        const size_t n = std::min<size_t>(255, stream.size() - i);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), stream.begin() + i, stream.begin() + i + n);
    }
    out.push_back(0);
    out.push_back(0x3B);
    return out;
}

class StampingTest : public WindowsTest {
protected:
    void SetUp() override
    {
        WindowsTest::SetUp();
        ResetStampRandom();
    }

    std::string Bmp(const std::string &name, int width, int height, const Painter &paint = Solid)
    {
        TBitmap bitmap(width, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                bitmap.ScanLine(y)[x] = PixelFromColor(paint(x, y));
        bitmap.SaveToFile(dir.file(name));
        return dir.file(name);
    }
    std::string Gif(const std::string &name, int width, int height, const Painter &paint)
    {
        const auto bytes = EncodeGif(width, height, paint);
        std::ofstream(dir.file(name), std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
        return dir.file(name);
    }
    void SetEntries(const std::vector<std::string> &entries)
    {
        Form2->ListBox1->clear();
        for (const auto &entry : entries)
            Form2->ListBox1->addItem(QString::fromStdString(entry));
    }
    // Entries that need never load: their files do not exist and no reader is asked for them.
    void SetPlaceholders(int n) { SetEntries(std::vector<std::string>(n, dir.file("none.xyz"))); }

    // A left-button press on the canvas, through the error report like a real one.
    void Click(int x, int y)
    {
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(x, y), Form1->Image1->mapToGlobal(QPointF(x, y)),
                          Qt::LeftButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(Form1->Image1, &event);
    }
    TColor Pixel(int x, int y) { return Form1->Image1->Canvas().Pixels(x, y); }
    std::string Label() const { return Form2->Label2->text().toStdString(); }
    // The number of canvas pixels that differ from black.
    int Painted()
    {
        int painted = 0;
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 400; ++x)
                painted += Pixel(x, y) != clBlack;
        return painted;
    }
    void Fill(TColor colour)
    {
        TCanvas &canvas = Form1->Image1->Canvas();
        canvas.Pen.Color = colour;
        canvas.Brush.Color = colour;
        canvas.Rectangle(0, 0, 400, 400);
        canvas.Brush.Color = clWhite;
    }
    QStringList Errors() const
    {
        QStringList texts;
        for (const auto &e : errors)
            texts << e.text;
        return texts;
    }

    TempDir dir;
};

TEST(StampRandom, StartsWithTheKnownSequence)
{
    ResetStampRandom();
    EXPECT_EQ(NextStampRandom(), 346);
    EXPECT_EQ(NextStampRandom(), 130);
    ResetStampRandom();
    EXPECT_EQ(NextStampRandom(), 346);
}

TEST_F(StampingTest, RandomAndListOrderChooseEntriesAsLabelled)
{
    struct Case {
        int entries;
        bool listOrder;
        std::vector<std::string> labels;
        std::vector<int> positions;
    } cases[] = {
        {10, false, {"6", "0", "2", "0", "6", "7"}, {0, 0, 0, 0, 0, 0}},
        {3, false, {"1", "1", "2", "1", "1", "1"}, {0, 0, 0, 0, 0, 0}},
        {3, true, {"0", "1", "2", "0", "1"}, {1, 2, 0, 1, 2}},
    };
    for (const auto &c : cases) {
        ResetStampRandom();
        Form1->StampIndex = 0;
        SetPlaceholders(c.entries);
        Form2->CheckBox5->setChecked(c.listOrder);
        for (size_t k = 0; k < c.labels.size(); ++k) {
            Form1->PutImage(10, 10);
            EXPECT_EQ(Label(), c.labels[k]) << c.entries << " entries, stamp " << k;
            EXPECT_EQ(Form1->StampIndex, c.positions[k]);
        }
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(StampingTest, ArrowKeysMoveThePositionAndWrapOnEquality)
{
    struct Case {
        int entries;
        int start;
        std::vector<Qt::Key> keys;
        std::vector<std::string> labels;
    } cases[] = {
        {4, 0, {Qt::Key_Up}, {"3"}},
        {4, 3, {Qt::Key_Down}, {"0"}},
        {0, 0, {Qt::Key_Up, Qt::Key_Up}, {"-1", "-2"}},
        {0, 0, {Qt::Key_Down, Qt::Key_Down}, {"1", "2"}},
        {4, 2, {Qt::Key_Left, Qt::Key_A}, {"keep", "keep"}},
    };
    for (const auto &c : cases) {
        SetPlaceholders(c.entries);
        Form1->StampIndex = c.start;
        Form2->Label2->setText("keep");
        for (size_t k = 0; k < c.keys.size(); ++k) {
            Press(Form1, c.keys[k]);
            EXPECT_EQ(Label(), c.labels[k]) << c.entries << " entries from " << c.start;
        }
    }

    // Modifiers make no difference, and a stamp of entry 2 of 3 followed by Down shows 1.
    SetPlaceholders(3);
    Form2->CheckBox5->setChecked(true);
    Form1->StampIndex = 2;
    Form1->PutImage(5, 5);
    EXPECT_EQ(Label(), "2");
    Press(Form1, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(Label(), "1");
}

TEST_F(StampingTest, PositionBeyondTheListFailsUntilReset)
{
    SetEntries({});
    for (int k = 0; k < 5; ++k)
        Press(Form1, Qt::Key_Down);
    const std::string image = Bmp("a.bmp", 4, 4);
    SetEntries({image, image, image});
    Form2->CheckBox5->setChecked(true);

    Click(10, 10);
    EXPECT_EQ(Label(), "5");
    EXPECT_EQ(Form1->StampIndex, 6);
    EXPECT_EQ(Errors(), QStringList{"ﾘｽﾄのｲﾝﾃﾞｯｸｽが範囲を超えています."});
    Click(10, 10);
    EXPECT_EQ(Form1->StampIndex, 7);
    EXPECT_EQ(errors.size(), 2u);
    EXPECT_EQ(Painted(), 0);

    // Random stamps are not affected; the reset button ends it.
    Form2->CheckBox5->setChecked(false);
    Form1->PutImage(10, 10);
    EXPECT_EQ(Pixel(10, 10), clBlue);
    Form2->CheckBox5->setChecked(true);
    Form2->Button3->click();
    Form1->PutImage(20, 20);
    EXPECT_EQ(Label(), "0");
    EXPECT_EQ(Pixel(20, 20), clBlue);
    EXPECT_EQ(errors.size(), 2u);
}

TEST_F(StampingTest, EmptyListDrawsNothingButStillChecksTheLimits)
{
    Form1->StampIndex = 2;
    Form2->Label2->setText("7");
    Form1->PutImage(10, 10);
    EXPECT_EQ(Label(), "7");
    EXPECT_EQ(Form1->StampIndex, 2);
    EXPECT_TRUE(errors.empty());

    Form2->CheckBox1->setChecked(true);
    Form2->Edit1->setText("abc");
    Form2->Edit2->setText("xyz");
    Click(10, 10);
    EXPECT_EQ(Errors(), QStringList{"'abc' は整数ではありません."});
}

TEST_F(StampingTest, SizeLimitDrawsImagesAtTheLimitOnly)
{
    struct Case {
        const char *width, *height;
        int imageWidth, imageHeight;
        bool drawn;
        const char *error;
    } cases[] = {
        {"256", "256", 256, 256, true, nullptr},
        {"256", "256", 257, 10, false, nullptr},
        {"256", "256", 10, 257, false, nullptr},
        {" 256", "+256", 256, 256, true, nullptr},
        {"$100", "0x100", 256, 256, true, nullptr},
        {"0", "256", 1, 1, false, nullptr},
        {"256 ", "256", 1, 1, false, "'256 ' は整数ではありません."},
        {"256", "", 1, 1, false, "'' は整数ではありません."},
        {nullptr, nullptr, 65536, 1, false, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.imageWidth) + "x" + std::to_string(c.imageHeight));
        Fill(clBlack);
        errors.clear();
        SetEntries({Bmp("limit.bmp", c.imageWidth, c.imageHeight)});
        Form2->CheckBox1->setChecked(c.width != nullptr);
        if (c.width) {
            Form2->Edit1->setText(QString::fromUtf8(c.width));
            Form2->Edit2->setText(QString::fromUtf8(c.height));
        }
        Form2->Label2->setText("none");
        Click(0, 0);
        EXPECT_EQ(Pixel(0, 0) == clBlue, c.drawn);
        EXPECT_EQ(Errors(), c.error ? QStringList{QString::fromUtf8(c.error)} : QStringList{});
        // The entry is chosen and shown before the limit rejects its image, but not when a
        // limit is no number.
        EXPECT_EQ(Label(), c.error ? "none" : "0");
    }
}

TEST_F(StampingTest, SnappingAndClippingPlaceTheStamp)
{
    struct Case {
        bool snap, frame;
        int x, y;
        int left, top, right, bottom;  // the stamp's visible block
    } cases[] = {
        {true, false, 45, 70, 32, 64, 64, 96},
        {true, false, 31, 31, 0, 0, 32, 32},
        {false, false, 380, 390, 380, 390, 400, 400},
        {false, true, 380, 390, 380, 390, 400, 400},
        {false, false, -10, 5, 0, 5, 22, 37},
    };
    const std::string image = Bmp("s.bmp", 32, 32);
    SetEntries({image});
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        Fill(clBlack);
        Form2->CheckBox3->setChecked(c.snap);
        Form2->CheckBox2->setChecked(c.frame);
        Form1->PutImage(c.x, c.y);
        int stamped = 0, yellow = 0;
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 400; ++x) {
                const TColor p = Pixel(x, y);
                const bool inside = x >= c.left && x < c.right && y >= c.top && y < c.bottom;
                if (inside) {
                    EXPECT_EQ(p, clBlue) << x << "," << y;
                }
                stamped += inside;
                yellow += p == clYellow;
            }
        EXPECT_EQ(Painted(), stamped + yellow);
        if (c.frame) {
            // Only the left and top edges of the frame fall inside the canvas.
            EXPECT_EQ(Pixel(379, 395), clYellow);
            EXPECT_EQ(Pixel(385, 389), clYellow);
            EXPECT_EQ(yellow, 21 + 11 - 1);
        } else {
            EXPECT_EQ(yellow, 0);
        }
    }
}

TEST_F(StampingTest, PointsAtOrBeyondTheEdgeDrawNoStampPixel)
{
    SetEntries({Bmp("s.bmp", 32, 32), Gif("s.gif", 32, 32, Solid)});
    Form2->CheckBox5->setChecked(true);
    for (int entry = 0; entry < 2; ++entry)
        for (QPoint at : {QPoint(400, 100), QPoint(100, 400), QPoint(450, 100), QPoint(100, 2000),
                          QPoint(std::numeric_limits<int>::max(), std::numeric_limits<int>::max())}) {
            Form1->StampIndex = entry;
            Form1->PutImage(at.x(), at.y());
            EXPECT_EQ(Painted(), 0) << entry << " at " << at.x() << "," << at.y();
        }
    EXPECT_TRUE(errors.empty());

    // With the frame on, a point at the right edge leaves the frame's left edge in the last column.
    Form2->CheckBox2->setChecked(true);
    Form1->StampIndex = 0;
    Form1->PutImage(400, 100);
    for (int y = 99; y <= 132; ++y)
        EXPECT_EQ(Pixel(399, y), clYellow) << y;
    EXPECT_EQ(Painted(), 34);
}

TEST_F(StampingTest, GifExtensionMakesTheTopLeftColourTransparent)
{
    // Red at the top-left and in the middle column; blue elsewhere.
    const Painter paint = [](int x, int y) { return (x == 0 && y == 0) || x == 2 ? clRed : clBlue; };
    const std::string lower = Gif("t.gif", 4, 3, paint);
    const std::string upper = Gif("t.GIF", 4, 3, paint);
    const std::string single = Gif("one.gif", 4, 3, [](int, int) { return clRed; });
    struct Case {
        std::string file;
        bool noTransparency, frame;
        TColor redShowsAs;
        TColor bottomLeftShowsAs;
    } cases[] = {
        {lower, false, false, clGreen, clBlue},
        {upper, false, false, clRed, clBlue},
        {lower, true, false, clRed, clBlue},
        {lower, false, true, clWhite, clBlue},
        {single, false, false, clGreen, clGreen},
        {single, false, true, clWhite, clWhite},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file + (c.noTransparency ? " ticked" : "") + (c.frame ? " framed" : ""));
        Fill(clGreen);
        SetEntries({c.file});
        Form2->CheckBox4->setChecked(c.noTransparency);
        Form2->CheckBox2->setChecked(c.frame);
        Form1->PutImage(10, 10);
        EXPECT_EQ(Pixel(10, 10), c.redShowsAs);
        EXPECT_EQ(Pixel(12, 12), c.redShowsAs);
        EXPECT_EQ(Pixel(10, 12), c.bottomLeftShowsAs);
        EXPECT_EQ(Pixel(9, 9), c.frame ? clYellow : clGreen);
        EXPECT_EQ(Pixel(14, 13), c.frame ? clYellow : clGreen);
        EXPECT_EQ(Pixel(15, 10), clGreen);
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(StampingTest, PressesAlwaysStampMovesOnlyWithTheLeftButtonInside)
{
    SetPlaceholders(2);
    Form2->CheckBox5->setChecked(true);
    struct Case {
        QEvent::Type type;
        Qt::MouseButton button;
        Qt::MouseButtons buttons;
        QPoint at;
        bool noDrag;
        int stamps;
    } cases[] = {
        {QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, {0, 0}, false, 1},
        {QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, {50, 0}, true, 1},
        {QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, {50, 50}, false, 0},
        {QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton, {50, 50}, false, 1},
        {QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, {50, 50}, false, 1},
        {QEvent::MouseMove, Qt::NoButton, Qt::LeftButton | Qt::RightButton, {450, 450}, false, 1},
        {QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, {0, 50}, false, 0},
        {QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, {50, 0}, false, 0},
        {QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, {-5, 50}, false, 0},
        {QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, {50, 50}, true, 0},
        {QEvent::MouseMove, Qt::NoButton, Qt::RightButton, {50, 50}, false, 0},
        {QEvent::MouseMove, Qt::NoButton, Qt::NoButton, {50, 50}, false, 0},
    };
    for (const auto &c : cases) {
        Form1->StampIndex = 0;
        Form2->CheckBox6->setChecked(c.noDrag);
        QMouseEvent event(c.type, c.at, Form1->Image1->mapToGlobal(c.at), c.button, c.buttons, {});
        QCoreApplication::sendEvent(Form1->Image1, &event);
        EXPECT_EQ(Form1->StampIndex, c.stamps) << "event " << int(c.type) << " at " << c.at.x() << "," << c.at.y();
    }
}

TEST_F(StampingTest, FailedLoadsDrawNothingAndReaderErrorsAreReported)
{
    const std::string good = Bmp("good.bmp", 8, 8);
    const std::string bad = dir.file("bad.bmp");
    std::ofstream(bad, std::ios::binary) << "BMxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";
    const std::string unknown = dir.file("noise.jpg");
    std::ofstream(unknown, std::ios::binary) << "this is not a picture";
    SetEntries({good, bad, unknown, dir.file("gone.gif")});
    Form2->CheckBox5->setChecked(true);

    // Before any load, and after a good one, a failed load leaves the canvas alone.
    Form1->StampIndex = 2;
    Form1->PutImage(100, 100);
    EXPECT_EQ(Painted(), 0);
    Form1->StampIndex = 0;
    Form1->PutImage(0, 0);
    EXPECT_EQ(Painted(), 64);
    for (int entry : {2, 3}) {
        Form1->StampIndex = entry;
        Form1->PutImage(200, 200);
        EXPECT_EQ(Label(), std::to_string(entry));
        EXPECT_EQ(Form1->StampIndex, (entry + 1) % 4);
    }
    EXPECT_EQ(Painted(), 64);

    // The reader's own error reaches the error report; the staging image keeps the good picture.
    errors.clear();
    Form1->StampIndex = 1;
    Click(300, 300);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です.");
    EXPECT_EQ(Label(), "1");
    EXPECT_EQ(Form1->StampIndex, 2);
    EXPECT_EQ(Painted(), 64);
    EXPECT_EQ(Form1->Image2->Width(), 8);
}

} // namespace
