#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include "platform/bmp.h"
#include "windows_fixture.h"

namespace {

using CanvasWindowTest = WindowsTest;

bool AllPixels(const TBitmap &bitmap, TColor colour)
{
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (bitmap.Canvas().Pixels(x, y) != colour)
                return false;
    return true;
}

// Lets the scroll area settle its bars after a size change.
void Settle()
{
    Form1->show();
    QApplication::processEvents();
}

TEST_F(CanvasWindowTest, StartsWithABlackCanvasFillingTheClientArea)
{
    Settle();
    EXPECT_EQ(Form1->windowTitle(), "Ketto");
    EXPECT_EQ(HasFileName, 0);
    EXPECT_EQ(Form1->StampIndex, 0);
    ASSERT_TRUE(Form1->Image1->HasPicture());
    const TBitmap &canvas = *Form1->Image1->Picture();
    EXPECT_EQ(canvas.Width(), 400);
    EXPECT_EQ(canvas.Height(), 400);
    EXPECT_TRUE(AllPixels(canvas, clBlack));
    EXPECT_EQ(Form1->ClientWidth(), 400);
    EXPECT_EQ(Form1->ClientHeight(), 400);
    EXPECT_EQ(Form1->ScrollBox()->viewport()->size(), QSize(400, 400));
    EXPECT_FALSE(Form1->ScrollBox()->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(Form1->ScrollBox()->verticalScrollBar()->isVisible());
    // The canvas's first column is on screen, at the client area's left edge.
    EXPECT_EQ(Form1->Image1->mapTo(Form1->ScrollBox()->viewport(), QPoint(0, 0)), QPoint(0, 0));
}

TEST_F(CanvasWindowTest, StagingImageStartsEmptyAndWhiteOnFirstUse)
{
    EXPECT_FALSE(Form1->Image2->HasPicture());
    EXPECT_FALSE(Form1->Image2->isVisible());
    const TBitmap &staging = Form1->Image2->Canvas().Bitmap();
    EXPECT_EQ(staging.Width(), 105);
    EXPECT_EQ(staging.Height(), 105);
    EXPECT_TRUE(AllPixels(staging, clWhite));
}

TEST_F(CanvasWindowTest, MenusCarryTheirCaptionsAndShortcuts)
{
    struct Row {
        QAction *action;
        const char *caption;
        QKeySequence shortcut;
    };
    const Row rows[] = {
        {Form1->New1, "&New", QKeySequence("Ctrl+N")},
        {Form1->OPen1, "&Open...", QKeySequence("F3")},
        {Form1->Save1, "&Save", QKeySequence("F2")},
        {Form1->Saveas1, "Save &as...", QKeySequence("Ctrl+S")},
        {Form1->Quit1, "&Quit", QKeySequence("Ctrl+Q")},
        {Form1->Copy1, "&Copy", QKeySequence("Ctrl+C")},
        {Form1->NewPaste1, "&Paste", QKeySequence("Ctrl+V")},
        {Form1->File2, "&File", QKeySequence()},
        {Form1->Adjust1, "&Adjust", QKeySequence("F5")},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(row.action->text(), QString::fromUtf8(row.caption));
        EXPECT_EQ(row.action->shortcut(), row.shortcut) << row.caption;
        EXPECT_TRUE(row.action->isEnabled());
    }
    const QList<QAction *> menus = Form1->MainMenu1->actions();
    ASSERT_EQ(menus.size(), 3);
    EXPECT_EQ(menus[0]->text(), "&FIle");
    EXPECT_EQ(menus[1]->text(), "&Edit");
    EXPECT_EQ(menus[2]->text(), "&Window");
    EXPECT_TRUE(Form1->N1->isSeparator() && Form1->N2->isSeparator() && Form1->N3->isSeparator());
}

TEST_F(CanvasWindowTest, NoChildTakesTheKeyboard)
{
    // The file dialogs are windows of their own and keep their keyboard.
    for (QWidget *child : Form1->findChildren<QWidget *>()) {
        if (child->window() == Form1) {
            EXPECT_EQ(child->focusPolicy(), Qt::NoFocus) << child->metaObject()->className();
        }
    }
}

TEST_F(CanvasWindowTest, AdjustFitsTheClientAreaToTheCanvasControl)
{
    Settle();
    // A larger canvas shows both scroll bars until Adjust fits the window to it.
    Form1->Image1->RemovePicture();
    Form1->Image1->SetWidth(640);
    Form1->Image1->SetHeight(480);
    PatBlt(Form1->Image1->Canvas(), 0, 0, 640, 480, BLACKNESS);
    Settle();
    EXPECT_TRUE(Form1->ScrollBox()->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(Form1->ScrollBox()->verticalScrollBar()->isVisible());

    const QPoint corner = Form1->pos();
    Form1->Adjust1->trigger();
    Settle();
    EXPECT_EQ(Form1->ClientWidth(), 640);
    EXPECT_EQ(Form1->ClientHeight(), 480);
    EXPECT_EQ(Form1->pos(), corner);
    EXPECT_FALSE(Form1->ScrollBox()->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(Form1->ScrollBox()->verticalScrollBar()->isVisible());

    // Adjust follows the control, not the bitmap: a small picture in a 400 control gives 400.
    Form1->Image1->SetPicture(TBitmap(50, 50));
    Form1->Image1->SetWidth(400);
    Form1->Image1->SetHeight(400);
    Form1->Adjust1->trigger();
    EXPECT_EQ(Form1->ClientWidth(), 400);
    EXPECT_EQ(Form1->ClientHeight(), 400);
}

TEST_F(CanvasWindowTest, LoadGraKeepsTheLastGoodPicture)
{
    TempDir dir;
    TBitmap picture(32, 16);
    picture.Canvas().Brush.Color = 0x00336699;
    picture.Canvas().Rectangle(-1, -1, 33, 17);
    const std::string good = dir.file("good.bmp");
    SaveBitmapFile(picture, good);

    Form1->LoadGra(good);
    ASSERT_TRUE(Form1->Image2->HasPicture());
    EXPECT_EQ(Form1->Image2->Width(), 32);
    EXPECT_EQ(Form1->Image2->Height(), 16);
    EXPECT_EQ(Form1->Image2->Picture()->Canvas().Pixels(5, 5), 0x00336699u);

    // Files no reader takes leave the staging image as it was, without a word.
    for (const std::string &name : {dir.file("missing.png"), dir.file("text.xyz")}) {
        Form1->LoadGra(name);
        EXPECT_EQ(Form1->Image2->Width(), 32);
        EXPECT_EQ(Form1->Image2->Height(), 16);
        EXPECT_EQ(Form1->Image2->Picture()->Canvas().Pixels(5, 5), 0x00336699u);
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(CanvasWindowTest, LoadGraLetsTheReadersErrorsThrough)
{
    TempDir dir;
    const std::string bad = dir.file("bad.bmp");
    FILE *f = fopen(bad.c_str(), "wb");
    fputs("not a bitmap at all", f);
    fclose(f);
    EXPECT_THROW(Form1->LoadGra(bad), EInvalidGraphic);
    EXPECT_FALSE(Form1->Image2->HasPicture());
}

TEST(ApplicationTitle, ComesFromTheProgramFileName)
{
    const std::pair<const char *, const char *> rows[] = {
        {"C:/TOOLS/KETTO.EXE", "Ketto"},
        {"/usr/lib/ketto/ketto", "ketto"},
        {"/opt/Ketto.bin.old", "Ketto"},
        {"/x/KETTO", "Ketto"},
    };
    for (const auto &[path, title] : rows)
        EXPECT_EQ(ApplicationTitleFromPath(path), title) << path;
}

TEST_F(CanvasWindowTest, ErrorReportAppendsAFullStopAndUsesTheTitle)
{
    Application->ErrorSink = nullptr;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        box->accept();
    });
    Guard([] { throw EConvertError("ends with a stop."); });
    EXPECT_EQ(title, Application->Title());
    EXPECT_EQ(text, "ends with a stop..");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttons, QMessageBox::Ok);
}

TEST_F(CanvasWindowTest, QuitClosesTheCanvasWindow)
{
    Settle();
    Form1->Quit1->trigger();
    EXPECT_FALSE(Form1->isVisible());
}

} // namespace
