#include "platform/widgets/application.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>

#include <malloc.h>

TApplication *Application = nullptr;

namespace {
const char *const kFontFace = "ＭＳ Ｐゴシック";
}

TApplication::TApplication(int &argc, char **argv)
    : qt_(std::make_unique<QApplication>(argc, argv))
{
    Application = this;
    // Every stamp allocates and frees pictures of a few hundred kilobytes. By default the C
    // library hands such blocks back to the system at once and maps them in afresh at the next
    // stamp, so a stamp spent more time in page faults than in decoding. Blocks below 64 MiB now
    // come from the heap, and freed memory stays with the process until 128 MiB lie unused;
    // larger pictures, such as a huge canvas, are still mapped and returned on their own.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    // Closing the main window ends the program even while the stamp list window is shown.
    qt_->setQuitOnLastWindowClosed(false);
}

TApplication::~TApplication()
{
    for (auto it = forms_.rbegin(); it != forms_.rend(); ++it)
        delete *it;
    forms_.clear();
    if (Application == this)
        Application = nullptr;
}

void TApplication::Initialize()
{
    title_ = ApplicationTitleFromPath(ExeName());
    QFont::insertSubstitution(kFontFace, "IPAPGothic");
}

int TApplication::Run()
{
    if (!mainForm_)
        return 0;
    mainForm_->show();
    return qt_->exec();
}

std::string TApplication::ExeName() const
{
    // The kernel's link names the real program file even when it was started through a
    // symbolic link, so the plug-ins are found beside the program and not beside the link.
    return QCoreApplication::applicationFilePath().toStdString();
}

void TApplication::ShowException(const EPlatformError &error)
{
    if (QWidget *grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    const QString text = QString::fromStdString(error.Message()) + ".";
    if (ErrorSink) {
        ErrorSink(title_, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, title_, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

QString ApplicationTitleFromPath(const std::string &path)
{
    QString name = QFileInfo(QString::fromStdString(path)).fileName();
    const qsizetype dot = name.indexOf('.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

QFont FormFont(int pixelSize)
{
    QFont font(kFontFace);
    font.setPixelSize(pixelSize);
    return font;
}

QColor ToQColor(TColor colour)
{
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

void ApplyFormLook(QWidget *form, const QColor &text)
{
    form->setFont(FormFont(12));
    QPalette palette = form->palette();
    palette.setColor(QPalette::Window, ToQColor(clTeal));
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
    form->setPalette(palette);
    form->setAutoFillBackground(true);
}

void SetControlColour(QWidget *control, TColor colour)
{
    QPalette palette = control->palette();
    palette.setColor(QPalette::Base, ToQColor(colour));
    palette.setColor(QPalette::Window, ToQColor(colour));
    palette.setColor(QPalette::Button, ToQColor(colour));
    control->setPalette(palette);
    control->setAutoFillBackground(true);
}
