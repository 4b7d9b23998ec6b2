// Stamping: the mouse on the canvas, PutImage, and the arrow keys that move the list-order
// position.
#include "canvas_window/stamping.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include <algorithm>
#include <limits>

#include "canvas_window/canvas_window.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "platform/widgets/keys.h"
#include "stamp_list_window/stamp_list_window.h"

namespace {

// The generator's state lives for the whole process and is never reseeded, so every run makes
// the same sequence of random choices.
uint32_t randomState = 1;

void ShowPosition(int64_t value)
{
    Form2->Label2->setText(QString::fromStdString(IntToStr(value)));
    // The label grows with its caption, so a long or negative number is not cut off.
    Form2->Label2->adjustSize();
}

// Frame coordinates far outside the canvas are pulled in to a value still far outside it, so
// that X - 1 or X + w + 1 cannot overflow for extreme points.
int Far(int64_t v)
{
    constexpr int64_t limit = std::numeric_limits<int>::max() / 2;
    return static_cast<int>(std::clamp(v, -limit, limit));
}

// The position moved by one, wrapping around the 32-bit range instead of overflowing.
int32_t Step(int32_t position, int32_t by)
{
    return static_cast<int32_t>(static_cast<uint32_t>(position) + static_cast<uint32_t>(by));
}

// The transparent copy: the stamp's block of w x h pixels onto the canvas at (x, y), leaving out
// every pixel of the key colour. It gives, pixel for pixel, what combining a white-key copy of the
// block with AND and then a black-key copy with OR gives: where the stamp has the key colour,
// (d AND all-ones) OR black leaves d; elsewhere (d AND s) OR s is s. One pass over the block
// does it without the two temporary images, whose allocation and filling cost more than the
// copy itself. Pixels outside the canvas bitmap are left out.
void CopyLeavingOutKey(TBitmap &canvas, int x, int y, int w, int h, const TBitmap &stamp, TColor key)
{
    const uint32_t keyPixel = PixelFromColor(key & 0x00FFFFFFu);
    const uint32_t black = PixelFromColor(clBlack);
    const int64_t left = std::max<int64_t>(0, -int64_t(x));
    const int64_t top = std::max<int64_t>(0, -int64_t(y));
    const int64_t right = std::min<int64_t>({w, stamp.Width(), int64_t(canvas.Width()) - x});
    const int64_t bottom = std::min<int64_t>({h, stamp.Height(), int64_t(canvas.Height()) - y});
    if (left >= right || top >= bottom)
        return;
    for (int64_t row = top; row < bottom; ++row) {
        const uint32_t *s = stamp.ScanLine(static_cast<int>(row));
        uint32_t *d = canvas.ScanLine(static_cast<int>(y + row));
        for (int64_t col = left; col < right; ++col) {
            uint32_t &to = d[x + col];
            to = s[col] == keyPixel ? (to | black) : s[col];
        }
    }
}

} // namespace

int32_t NextStampRandom()
{
    randomState = randomState * 22695477u + 1u;
    return static_cast<int32_t>((randomState >> 16) & 0x7FFFu);
}

void ResetStampRandom(uint32_t state) { randomState = state; }

void TForm1::Image1MouseDown(QObject *, Qt::MouseButton Button, Qt::KeyboardModifiers, int X, int Y)
{
    if (Button == Qt::LeftButton)
        PutImage(X, Y);
}

void TForm1::Image1MouseMove(QObject *, Qt::MouseButtons Shift, int X, int Y)
{
    if ((Shift & Qt::LeftButton) && X > 0 && Y > 0 && !Form2->CheckBox6->isChecked())
        PutImage(X, Y);
}

void TForm1::PutImage(int X, int Y)
{
    QListWidget *list = Form2->ListBox1;
    const int n = list->count();

    int32_t limW = 0xFFFF, limH = 0xFFFF;
    if (Form2->CheckBox1->isChecked()) {
        limW = StrToInt(Form2->Edit1->text().toStdString());
        limH = StrToInt(Form2->Edit2->text().toStdString());
    }
    if (n == 0)
        return;

    int32_t i;
    if (Form2->CheckBox5->isChecked()) {
        i = StampIndex;
        // Only equality wraps: a position already beyond the list keeps counting upwards.
        StampIndex = Step(StampIndex, 1);
        if (StampIndex == n)
            StampIndex = 0;
    } else {
        i = NextStampRandom() % n;
    }
    ShowPosition(i);

    if (i < 0 || i >= n)
        RaiseListIndexError();
    const std::string name = list->item(i)->text().toStdString();

    // A file that cannot be loaded draws nothing, rather than the previous picture again.
    if (!TryLoadGra(name))
        return;

    const TBitmap *stamp = Image2->Picture();
    int w = Image2->Width();
    int h = Image2->Height();
    if (w > limW || h > limH)
        return;
    // Never divide by, or draw, a picture without area.
    if (!stamp || w <= 0 || h <= 0)
        return;

    if (Form2->CheckBox3->isChecked()) {
        X = (X / w) * w;
        Y = (Y / h) * h;
    }

    const int cw = Image1->Width();
    const int ch = Image1->Height();
    if (int64_t(cw) < int64_t(X) + w - 1)
        w = static_cast<int>(int64_t(cw) - X);
    if (int64_t(ch) < int64_t(Y) + h - 1)
        h = static_cast<int>(int64_t(ch) - Y);

    TCanvas &canvas = Image1->Canvas();
    const bool framed = Form2->CheckBox2->isChecked();
    if (framed) {
        canvas.Pen.Color = clYellow;
        canvas.Rectangle(Far(int64_t(X) - 1), Far(int64_t(Y) - 1), Far(int64_t(X) + w + 1),
                         Far(int64_t(Y) + h + 1));
    }

    const bool transparent = !Form2->CheckBox4->isChecked() && ExtractFileExt(name) == ".gif";
    // A point at or beyond the right or bottom edge leaves no block to copy.
    if (w > 0 && h > 0) {
        const TCanvas &source = stamp->Canvas();
        if (!transparent) {
            BitBlt(canvas, X, Y, w, h, source, 0, 0, SRCCOPY);
        } else {
            CopyLeavingOutKey(canvas.Bitmap(), X, Y, w, h, *stamp,
                              source.Pixels(0, 0) + PaletteRelative);
        }
    }

    // Only the stamp's block and its frame are painted again, so a stamp costs the same on any
    // size of canvas.
    if (framed)
        Image1->RepaintRect(Far(int64_t(X) - 1), Far(int64_t(Y) - 1), Far(int64_t(w) + 2), Far(int64_t(h) + 2));
    else
        Image1->RepaintRect(X, Y, w, h);
}

void TForm1::FormKeyDown(QObject *, uint16_t &Key, Qt::KeyboardModifiers)
{
    const int n = Form2->ListBox1->count();
    if (Key == VK_UP) {
        StampIndex = Step(StampIndex, -1);
        if (StampIndex == -1)
            StampIndex = n - 1;
    } else if (Key == VK_DOWN) {
        StampIndex = Step(StampIndex, 1);
        if (StampIndex == n)
            StampIndex = 0;
    } else {
        return;
    }
    ShowPosition(StampIndex);
}
