// The stamp list window: its layout, the browsing controls and the stamp list commands.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QKeyEvent>

#include <filesystem>
#include <fstream>

#include "windows_fixture.h"

namespace {

// Sends one key press to the widget, as the window system would to the focused one.
void Press(QWidget *widget, int key, Qt::KeyboardModifiers modifiers = {})
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(widget, &event);
}

class StampListWindowTest : public WindowsTest {
protected:
    void SetUp() override
    {
        WindowsTest::SetUp();
        for (const char *name : {"b.bmp", "A.GIF", "c.jpg", "d.png", ".hidden.bmp", "e.Bmp", "f.jpeg"})
            std::ofstream(dir.file(name)) << "x";
        std::filesystem::create_directory(dir.file("sub"));
        std::filesystem::create_directory(dir.file("sub.bmp"));
        std::ofstream(dir.file("sub/g.gif")) << "x";
    }

    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < Form2->FileListBox1->Count(); ++i)
            names.push_back(Form2->FileListBox1->FileName(i));
        return names;
    }
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> entries;
        for (int i = 0; i < Form2->ListBox1->count(); ++i)
            entries.push_back(Form2->ListBox1->item(i)->text().toStdString());
        return entries;
    }
    void SetEntries(const std::vector<std::string> &entries)
    {
        Form2->ListBox1->clear();
        for (const auto &entry : entries)
            Form2->ListBox1->addItem(QString::fromStdString(entry));
    }

    TempDir dir;
};

TEST_F(StampListWindowTest, LaysOutEveryControlAsDesigned)
{
    EXPECT_EQ(Form2->windowTitle(), "File");
    EXPECT_TRUE(Form2->isVisible());
    EXPECT_EQ(Form2->pos(), QPoint(475, 54));
    EXPECT_EQ(Form2->size(), QSize(217, 384));
    EXPECT_EQ(Form2->minimumSize(), Form2->maximumSize());
    const auto flags = Form2->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(Form2->palette().color(QPalette::Window), QColor(0, 128, 128));
    EXPECT_EQ(Form2->font().pixelSize(), 12);

    struct Control {
        QWidget *widget;
        QRect rect;
        const char *caption;
        QColor colour;
    };
    const QColor maroon(128, 0, 0), olive(128, 128, 0), none;
    const Control controls[] = {
        {Form2->FileListBox1, {120, 0, 97, 137}, nullptr, maroon},
        {Form2->DirectoryListBox1, {120, 136, 97, 97}, nullptr, maroon},
        {Form2->DriveComboBox1, {120, 232, 97, 18}, nullptr, maroon},
        {Form2->Button1, {96, 40, 25, 25}, "←", none},
        {Form2->ListBox1, {0, 0, 97, 249}, nullptr, olive},
        {Form2->Button2, {96, 88, 25, 25}, "×", none},
        {Form2->Edit1, {8, 256, 41, 20}, "256", olive},
        {Form2->Edit2, {72, 256, 41, 20}, "256", maroon},
        {Form2->Label1, {56, 264, 7, 12}, "X", none},
        {Form2->CheckBox1, {16, 280, 153, 17}, "↑以上の画像は用いない", none},
        {Form2->CheckBox2, {16, 296, 113, 17}, "黄色の枠線を描画", none},
        {Form2->CheckBox3, {16, 312, 137, 17}, "描画間隔を均一にする", none},
        {Form2->CheckBox4, {16, 328, 129, 17}, "透過GIFを使用しない", none},
        {Form2->CheckBox5, {16, 344, 129, 17}, "リスト順に描画する→", none},
        {Form2->Button3, {144, 344, 41, 17}, "リセット", none},
        {Form2->CheckBox6, {16, 360, 129, 17}, "ドラッグ時描画しない", none},
    };
    for (const auto &c : controls) {
        SCOPED_TRACE(c.widget->metaObject()->className() + std::string(" at ") +
                     std::to_string(c.rect.x()) + "," + std::to_string(c.rect.y()));
        EXPECT_EQ(c.widget->geometry(), c.rect);
        if (c.caption) {
            QString text = c.widget->property("text").toString();
            EXPECT_EQ(text, QString::fromUtf8(c.caption));
        }
        if (c.colour.isValid()) {
            EXPECT_EQ(c.widget->palette().color(QPalette::Base), c.colour);
        }
        if (auto *box = qobject_cast<QCheckBox *>(c.widget)) {
            EXPECT_FALSE(box->isChecked());
        }
    }
    EXPECT_EQ(Form2->Button3->font().pixelSize(), 11);
    EXPECT_EQ(Form2->Label2->text(), "0");
    EXPECT_EQ(Form2->Label2->pos(), QPoint(192, 344));
    EXPECT_EQ(Form2->ListBox1->count(), 0);
    EXPECT_EQ(Form2->ListBox1->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(Form2->FileListBox1->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(Form2->FileListBox1->Mask(), "*.jpg;*.gif;*.bmp");
    EXPECT_EQ(Form2->SelectAll1->text(), "Select All");
    EXPECT_EQ(Form2->Clear1->text(), "Clear");
    EXPECT_TRUE(Form2->PopupMenu1->actions().contains(Form2->SelectAll1));
    EXPECT_TRUE(Form2->PopupMenu2->actions().contains(Form2->Clear1));
    EXPECT_EQ(Form2->FileListBox1->Directory(), std::filesystem::current_path().string());
}

TEST_F(StampListWindowTest, FileListShowsMaskedVisibleFilesInByteOrder)
{
    Form2->DirectoryListBox1->SetDirectory(dir.path() + "/");
    EXPECT_EQ(Form2->FileListBox1->Directory(), dir.path());
    EXPECT_EQ(Files(), (std::vector<std::string>{"A.GIF", "b.bmp", "c.jpg", "e.Bmp"}));

    // The directory chooser shows the path from the root down, then the subdirectories.
    auto *dirs = Form2->DirectoryListBox1;
    EXPECT_EQ(dirs->PathOfLine(0), "/");
    const int subLine = dirs->count() - 2;
    EXPECT_EQ(dirs->PathOfLine(subLine), dir.file("sub"));
    EXPECT_EQ(dirs->PathOfLine(subLine - 1), dir.path());

    // Enter on a line enters that directory, and the file list follows it.
    dirs->setCurrentRow(subLine);
    Press(dirs, Qt::Key_Return);
    EXPECT_EQ(dirs->Directory(), dir.file("sub"));
    EXPECT_EQ(Files(), std::vector<std::string>{"g.gif"});
    EXPECT_TRUE(errors.empty());
}

TEST_F(StampListWindowTest, DirectoryThatCannotBeEnteredKeepsTheOldOneAndReports)
{
    Form2->DirectoryListBox1->SetDirectory(dir.path());
    Form2->FileListBox1->SetSelected(1, true);
    auto *dirs = Form2->DirectoryListBox1;
    dirs->setCurrentRow(dirs->count() - 2);
    std::filesystem::remove_all(dir.file("sub"));
    Press(dirs, Qt::Key_Return);

    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].text.startsWith("I/O ｴﾗｰ ")) << errors[0].text.toStdString();
    EXPECT_EQ(dirs->Directory(), dir.path());
    EXPECT_EQ(Form2->FileListBox1->Directory(), dir.path());
    EXPECT_EQ(Files().size(), 4u);
    EXPECT_TRUE(Form2->FileListBox1->Selected(1));
}

TEST_F(StampListWindowTest, ChoosingADriveMovesTheDirectoryChooserToItsRoot)
{
    Form2->DirectoryListBox1->SetDirectory(dir.path());
    auto *drives = Form2->DriveComboBox1;
    const int root = drives->findText("/");
    ASSERT_GE(root, 0);
    drives->ChooseDrive(root);
    EXPECT_EQ(Form2->DirectoryListBox1->Directory(), "/");
    EXPECT_EQ(Form2->FileListBox1->Directory(), "/");

    EXPECT_EQ(MountPointOf("/mnt/usb/photos", {"/", "/mnt", "/mnt/usb"}), "/mnt/usb");
    EXPECT_EQ(MountPointOf("/mnt/usbstick", {"/", "/mnt/usb"}), "/");
}

TEST_F(StampListWindowTest, AddAppendsSelectedFilesInListOrderEveryTime)
{
    Form2->DirectoryListBox1->SetDirectory(dir.path());
    Form2->Button1->click();
    EXPECT_TRUE(Entries().empty());

    Form2->FileListBox1->SetSelected(3, true);
    Form2->FileListBox1->SetSelected(0, true);
    Form2->FileListBox1->SetSelected(2, true);
    Form1->StampIndex = 5;
    Form2->Button1->click();
    Form2->Button1->click();
    const std::string d = dir.path() + "/";
    EXPECT_EQ(Entries(), (std::vector<std::string>{d + "A.GIF", d + "c.jpg", d + "e.Bmp", d + "A.GIF",
                                                   d + "c.jpg", d + "e.Bmp"}));
    EXPECT_EQ(Form1->StampIndex, 5);

    // Another directory starts with nothing selected, so nothing more is added.
    Form2->DirectoryListBox1->SetDirectory(dir.file("sub"));
    Form2->Button1->click();
    EXPECT_EQ(Entries().size(), 6u);

    // Select All selects every file, also those selected already.
    Form2->FileListBox1->SetSelected(0, true);
    Form2->DirectoryListBox1->SetDirectory(dir.path());
    Form2->FileListBox1->SetSelected(1, true);
    Form2->SelectAll1->trigger();
    EXPECT_EQ(Form2->FileListBox1->selectedItems().size(), 4);
}

TEST_F(StampListWindowTest, RootDirectoryEntriesHaveTwoSeparators)
{
    Form2->DirectoryListBox1->SetDirectory("/");
    EXPECT_EQ(Form2->FileListBox1->Directory(), "/");
    // Whatever image files the root holds are joined with one more "/".
    Form2->SelectAll1->trigger();
    Form2->Button1->click();
    for (const auto &entry : Entries())
        EXPECT_EQ(entry.substr(0, 2), "//");
}

TEST_F(StampListWindowTest, RemoveTakesTheSelectionAtTheClick)
{
    struct Case {
        int entries;
        std::vector<int> selected;
        std::vector<std::string> left;
    } cases[] = {
        {6, {1, 2, 4}, {"0", "3", "5"}},
        {6, {}, {"0", "1", "2", "3", "4", "5"}},
        {3, {0, 1, 2}, {}},
        {0, {}, {}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> entries;
        for (int i = 0; i < c.entries; ++i)
            entries.push_back(std::to_string(i));
        SetEntries(entries);
        for (int k : c.selected)
            Form2->ListBox1->item(k)->setSelected(true);
        Form1->StampIndex = 4;
        Form2->Label2->setText("4");
        Form2->Button2->click();
        EXPECT_EQ(Entries(), c.left);
        EXPECT_EQ(Form1->StampIndex, 0);
        EXPECT_EQ(Form2->Label2->text(), "4");
    }
}

TEST_F(StampListWindowTest, ClearAndResetSetThePositionToZeroOnly)
{
    struct Case {
        QAbstractButton *button;
        QAction *action;
        size_t entriesLeft;
    } cases[] = {
        {Form2->Button3, nullptr, 2},
        {nullptr, Form2->Clear1, 0},
    };
    for (const auto &c : cases) {
        SetEntries({"a", "b"});
        Form1->StampIndex = 7;
        Form2->Label2->setText("6");
        if (c.button)
            c.button->click();
        else
            c.action->trigger();
        EXPECT_EQ(Entries().size(), c.entriesLeft);
        EXPECT_EQ(Form1->StampIndex, 0);
        EXPECT_EQ(Form2->Label2->text(), "6");
    }
    // Clear on an empty list only resets the position.
    Form1->StampIndex = 3;
    Form2->Clear1->trigger();
    EXPECT_EQ(Form1->StampIndex, 0);
}

TEST_F(StampListWindowTest, ClosingHidesAndTheFileCommandBringsItBack)
{
    SetEntries({"a"});
    Form2->CheckBox2->setChecked(true);
    Form2->close();
    EXPECT_FALSE(Form2->isVisible());
    Form1->File2->trigger();
    EXPECT_TRUE(Form2->isVisible());
    EXPECT_EQ(Entries(), std::vector<std::string>{"a"});
    EXPECT_TRUE(Form2->CheckBox2->isChecked());
}

TEST_F(StampListWindowTest, ArrowKeysInTheListStayThere)
{
    SetEntries({"a", "b", "c"});
    Form2->ListBox1->setCurrentRow(0);
    Press(Form2->ListBox1, Qt::Key_Down);
    EXPECT_EQ(Form2->ListBox1->currentRow(), 1);
    EXPECT_EQ(Form1->StampIndex, 0);
    EXPECT_EQ(Form2->Label2->text(), "0");
}

TEST(MaskMatching, IgnoresLetterCaseAndTriesEveryPattern)
{
    const std::string mask = "*.jpg;*.gif;*.bmp";
    struct Case {
        const char *name;
        bool matches;
    } cases[] = {{"a.jpg", true}, {"A.JPG", true}, {"x.Gif", true}, {"y.bmp", true}, {".bmp", true},
                 {"a.jpeg", false}, {"a.png", false}, {"a.bmp.txt", false}, {"bmp", false}};
    for (const auto &c : cases)
        EXPECT_EQ(MatchesMask(c.name, mask), c.matches) << c.name;
}

} // namespace
