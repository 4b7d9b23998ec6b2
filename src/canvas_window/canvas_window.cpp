#include "canvas_window/canvas_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCompleter>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>

#include "image_loading/spi_loader.h"
#include "platform/text.h"
#include "platform/widgets/application.h"
#include "platform/widgets/file_icons.h"
#include "platform/widgets/keys.h"

TForm1 *Form1 = nullptr;
int32_t HasFileName = 0;

TForm1::TForm1()
{
    setWindowTitle("Ketto");
    move(64, 52);
    setFont(FormFont(12));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, ToQColor(clTeal));
    setPalette(palette);

    // The canvas sits at the client area's left edge: the whole canvas is visible and reachable,
    // and the window scrolls only when the canvas is larger than the client area.
    scrollBox_ = new QScrollArea(this);
    scrollBox_->setFrameShape(QFrame::NoFrame);
    scrollBox_->setFocusPolicy(Qt::NoFocus);
    scrollBox_->setWidgetResizable(false);
    scrollBox_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    scrollBox_->viewport()->setAutoFillBackground(true);
    scrollBox_->viewport()->setPalette(palette);
    scrollBox_->horizontalScrollBar()->setFocusPolicy(Qt::NoFocus);
    scrollBox_->verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
    setCentralWidget(scrollBox_);

    Image1 = new TImage;
    Image1->resize(105, 105);
    scrollBox_->setWidget(Image1);
    Image1->OnMouseDown = [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
        Image1MouseDown(Image1, button, shift, x, y);
    };
    Image1->OnMouseMove = [this](Qt::MouseButtons buttons, Qt::KeyboardModifiers, int x, int y) {
        Image1MouseMove(Image1, buttons, x, y);
    };

    Image2 = new TImage(this);
    Image2->resize(105, 105);
    Image2->hide();

    BuildMenu();
    BuildDialogs();
    resize(408, 438);

    // Plug-ins come from the program's own folder, never from the working directory.
    SpiLoader.LoadPlugins(ExtractFilePath(Application->ExeName()).c_str());

    Guard([this] { FormCreate(this); });
}

TForm1::~TForm1()
{
    // The dialogs go first, while the icon provider they use still exists.
    delete OpenDialog1;
    delete SaveDialog1;
}

void TForm1::BuildMenu()
{
    MainMenu1 = menuBar();
    auto item = [this](QMenu *menu, const char *caption, QKeySequence shortcut,
                       void (TForm1::*handler)(QObject *)) {
        QAction *action = menu->addAction(QString::fromUtf8(caption));
        action->setShortcut(shortcut);
        if (handler)
            connect(action, &QAction::triggered, this, Handler(this, handler));
        return action;
    };
    File1 = MainMenu1->addMenu("&FIle");
    New1 = item(File1, "&New", QKeySequence(Qt::CTRL | Qt::Key_N), &TForm1::New1Click);
    N1 = File1->addSeparator();
    OPen1 = item(File1, "&Open...", QKeySequence(Qt::Key_F3), &TForm1::OPen1Click);
    Save1 = item(File1, "&Save", QKeySequence(Qt::Key_F2), &TForm1::Save1Click);
    Saveas1 = item(File1, "Save &as...", QKeySequence(Qt::CTRL | Qt::Key_S), &TForm1::Saveas1Click);
    N2 = File1->addSeparator();
    Quit1 = item(File1, "&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q), nullptr);
    // Quit ends the program the way closing the canvas window does.
    connect(Quit1, &QAction::triggered, this, &QWidget::close);

    Edit1 = MainMenu1->addMenu("&Edit");
    Copy1 = item(Edit1, "&Copy", QKeySequence(Qt::CTRL | Qt::Key_C), &TForm1::Copy1Click);
    NewPaste1 = item(Edit1, "&Paste", QKeySequence(Qt::CTRL | Qt::Key_V), &TForm1::NewPaste1Click);

    View1 = MainMenu1->addMenu("&Window");
    File2 = item(View1, "&File", QKeySequence(), &TForm1::File2Click);
    N3 = View1->addSeparator();
    Adjust1 = item(View1, "&Adjust", QKeySequence(Qt::Key_F5), &TForm1::Adjust1Click);
}

void TForm1::BuildDialogs()
{
    icons_ = std::make_unique<TNameOnlyIconProvider>();
    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setIconProvider(icons_.get());
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setNameFilter("Images (*.bmp *.gif *.jpg)");

    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setIconProvider(icons_.get());
    SaveDialog1->setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setNameFilter("Bitmapp (*.bmp)");
    SaveDialog1->setDefaultSuffix("bmp");
}

int TForm1::MenuHeight() const { return menuBar()->sizeHint().height(); }
int TForm1::ClientWidth() const { return width(); }
int TForm1::ClientHeight() const { return height() - MenuHeight(); }
void TForm1::SetClientWidth(int width) { resize(width, height()); }
void TForm1::SetClientHeight(int height) { resize(width(), height + MenuHeight()); }

void TForm1::FormCreate(QObject *)
{
    Image1->SetWidth(400);
    Image1->SetHeight(400);
    HasFileName = 0;
    StampIndex = 0;
    PatBlt(Image1->Canvas(), 0, 0, 400, 400, BLACKNESS);
    SetClientWidth(400);
    SetClientHeight(400);
}

void TForm1::LoadGra(std::string fileName) { TryLoadGra(fileName); }

bool TForm1::TryLoadGra(const std::string &fileName)
{
    if (!SpiLoader.SetFile(fileName.c_str()))
        return false;
    if (!SpiLoader.LoadBitmap())
        return false;
    Image2->SetWidth(SpiLoader.FBitmap->Width());
    Image2->SetHeight(SpiLoader.FBitmap->Height());
    Image2->SetPicture(*SpiLoader.FBitmap);
    return true;
}

void TForm1::Adjust1Click(QObject *)
{
    SetClientWidth(Image1->Width());
    SetClientHeight(Image1->Height());
}

void TForm1::keyPressEvent(QKeyEvent *event)
{
    uint16_t key = VirtualKeyFromQt(event->key());
    const auto modifiers = event->modifiers();
    Guard([&] { FormKeyDown(this, key, modifiers); });
    QMainWindow::keyPressEvent(event);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // The program ends at once, without asking about unsaved work.
    event->accept();
    QCoreApplication::quit();
}
