#include "stamp_list_window/stamp_list_window.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

#include <filesystem>
#include <vector>

#include "canvas_window/canvas_window.h"
#include "platform/errors.h"
#include "platform/widgets/application.h"
#include "platform/widgets/browsing.h"

TForm2 *Form2 = nullptr;

namespace {

// The item height of a list, which the layout fixes in pixels. A style sheet replaces the
// palette's text colour, so the window's white text is restated here.
void ItemHeight(QListWidget *list, int height)
{
    list->setStyleSheet(QString("QListView { color: white; } QListView::item { height: %1px; padding: 0px; }")
                            .arg(height));
}

// Opens the menu at a right-click on the control.
void AttachPopup(QWidget *control, QMenu *menu)
{
    control->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(control, &QWidget::customContextMenuRequested, menu, [control, menu](const QPoint &at) {
        menu->popup(control->mapToGlobal(at));
    });
}

std::string WorkingDirectory()
{
    std::error_code error;
    const auto here = std::filesystem::current_path(error);
    return error ? std::string("/") : here.string();
}

} // namespace

TForm2::TForm2()
{
    setWindowTitle("File");
    // A fixed dialog frame: title, system menu and close box only.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    move(475, 54);
    setFixedSize(217, 384);
    ApplyFormLook(this, Qt::white);

    FileListBox1 = new TFileListBox(this);
    FileListBox1->setGeometry(120, 0, 97, 137);
    SetControlColour(FileListBox1, clMaroon);
    ItemHeight(FileListBox1, 12);
    FileListBox1->SetMask("*.jpg;*.gif;*.bmp");

    DirectoryListBox1 = new TDirectoryListBox(this);
    DirectoryListBox1->setGeometry(120, 136, 97, 97);
    SetControlColour(DirectoryListBox1, clMaroon);
    ItemHeight(DirectoryListBox1, 16);
    DirectoryListBox1->SetFileList(FileListBox1);

    DriveComboBox1 = new TDriveComboBox(this);
    DriveComboBox1->setGeometry(120, 232, 97, 18);
    SetControlColour(DriveComboBox1, clMaroon);
    DriveComboBox1->SetDirList(DirectoryListBox1);

    Button1 = new QPushButton(QString::fromUtf8("←"), this);
    Button1->setGeometry(96, 40, 25, 25);

    ListBox1 = new QListWidget(this);
    ListBox1->setGeometry(0, 0, 97, 249);
    ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBox1->setSortingEnabled(false);
    SetControlColour(ListBox1, clOlive);
    ItemHeight(ListBox1, 12);

    Button2 = new QPushButton(QString::fromUtf8("×"), this);
    Button2->setGeometry(96, 88, 25, 25);

    Edit1 = new QLineEdit("256", this);
    Edit1->setGeometry(8, 256, 41, 20);
    SetControlColour(Edit1, clOlive);
    Edit2 = new QLineEdit("256", this);
    Edit2->setGeometry(72, 256, 41, 20);
    SetControlColour(Edit2, clMaroon);

    Label1 = new QLabel("X", this);
    Label1->setGeometry(56, 264, 7, 12);

    auto checkBox = [this](const char *caption, int top, int width) {
        auto *box = new QCheckBox(QString::fromUtf8(caption), this);
        box->setGeometry(16, top, width, 17);
        return box;
    };
    CheckBox1 = checkBox("↑以上の画像は用いない", 280, 153);
    CheckBox2 = checkBox("黄色の枠線を描画", 296, 113);
    CheckBox3 = checkBox("描画間隔を均一にする", 312, 137);
    CheckBox4 = checkBox("透過GIFを使用しない", 328, 129);
    CheckBox5 = checkBox("リスト順に描画する→", 344, 129);

    Button3 = new QPushButton(QString::fromUtf8("リセット"), this);
    Button3->setGeometry(144, 344, 41, 17);
    Button3->setFont(FormFont(11));

    CheckBox6 = checkBox("ドラッグ時描画しない", 360, 129);

    // The label sizes itself to its caption, which stamping rewrites.
    Label2 = new QLabel("0", this);
    Label2->move(192, 344);
    Label2->adjustSize();

    PopupMenu1 = new QMenu(this);
    SelectAll1 = PopupMenu1->addAction("Select All");
    AttachPopup(FileListBox1, PopupMenu1);
    PopupMenu2 = new QMenu(this);
    Clear1 = PopupMenu2->addAction("Clear");
    AttachPopup(ListBox1, PopupMenu2);

    setTabOrder(FileListBox1, DirectoryListBox1);
    setTabOrder(DirectoryListBox1, DriveComboBox1);
    setTabOrder(DriveComboBox1, Button1);
    setTabOrder(Button1, ListBox1);
    setTabOrder(ListBox1, Button2);
    setTabOrder(Button2, Edit1);
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, CheckBox1);
    setTabOrder(CheckBox1, CheckBox2);
    setTabOrder(CheckBox2, CheckBox3);
    setTabOrder(CheckBox3, CheckBox4);
    setTabOrder(CheckBox4, CheckBox5);
    setTabOrder(CheckBox5, Button3);
    setTabOrder(Button3, CheckBox6);

    connect(Button1, &QPushButton::clicked, this, Handler(this, &TForm2::Button1Click));
    connect(Button2, &QPushButton::clicked, this, Handler(this, &TForm2::Button2Click));
    connect(Button3, &QPushButton::clicked, this, Handler(this, &TForm2::Button3Click));
    connect(SelectAll1, &QAction::triggered, this, Handler(this, &TForm2::SelectAll1Click));
    connect(Clear1, &QAction::triggered, this, Handler(this, &TForm2::Clear1Click));

    // All three browsing controls start at the working directory; one that cannot be read
    // leaves the browser at the root rather than failing start-up.
    try {
        DirectoryListBox1->SetDirectory(WorkingDirectory());
    } catch (const EPlatformError &) {
        try {
            DirectoryListBox1->SetDirectory("/");
        } catch (const EPlatformError &) {
        }
    }
    DriveComboBox1->SelectDriveOf(DirectoryListBox1->Directory());

    show();
}

TForm2::~TForm2() = default;

void TForm2::Button1Click(QObject *)
{
    // The count is read again at every step, as the list could change under the loop.
    for (int i = 0; i < FileListBox1->Count(); ++i) {
        if (FileListBox1->Selected(i)) {
            const std::string entry = FileListBox1->Directory() + "/" + FileListBox1->FileName(i);
            ListBox1->addItem(QString::fromUtf8(entry));
        }
    }
}

void TForm2::Button2Click(QObject *)
{
    // The selection is read whole before anything is removed, since removing moves the later
    // entries up and would shift the flags under the loop.
    const int n = ListBox1->count();
    std::vector<bool> selected(n);
    for (int k = 0; k < n; ++k)
        selected[k] = ListBox1->item(k)->isSelected();
    int p = 0;
    for (int k = 0; k < n; ++k) {
        if (selected[k])
            delete ListBox1->takeItem(p);
        else
            ++p;
    }
    Form1->StampIndex = 0;
}

void TForm2::Button3Click(QObject *) { Form1->StampIndex = 0; }

void TForm2::SelectAll1Click(QObject *)
{
    const int n = FileListBox1->Count();
    for (int i = 0; i < n; ++i)
        FileListBox1->SetSelected(i, true);
}

void TForm2::Clear1Click(QObject *)
{
    ListBox1->clear();
    Form1->StampIndex = 0;
}

void TForm1::File2Click(QObject *)
{
    Form2->show();
    Form2->raise();
    Form2->activateWindow();
}
