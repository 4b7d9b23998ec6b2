// The commands that treat the canvas as a document: New, Open, Save, Save as, Copy and Paste.
#include "canvas_window/canvas_window.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFileDialog>

#include "ketto_limits.h"
#include "new_canvas_dialog/new_canvas_dialog.h"
#include "platform/bmp.h"
#include "platform/errors.h"
#include "platform/widgets/clipboard.h"

namespace {

// The file the user confirmed in a dialog, as a full path.
std::string ConfirmedFile(const QFileDialog &dialog)
{
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? std::string() : files.first().toStdString();
}

} // namespace

bool TForm1::RunFileDialog(QFileDialog &dialog)
{
    const bool confirmed = dialog.exec() == QDialog::Accepted;
    // A dialog kept between showings can leave its file-name completer open after Return
    // accepted it, and that popup would then hold the keyboard.
    for (QCompleter *completer : dialog.findChildren<QCompleter *>())
        if (completer->popup())
            completer->popup()->hide();
    return confirmed;
}

void TForm1::New1Click(QObject *)
{
    if (Form3->ShowModal() != TForm3::mrOk)
        return;
    const int32_t width = Form3->NewWidth;
    const int32_t height = Form3->NewHeight;
    // A size the program cannot hold is refused before the old canvas is touched, so the
    // canvas is always a bitmap of at least one pixel.
    if (!KettoSizeAllowed(width, height))
        RaiseOutOfResources();
    TBitmap canvas(width, height);
    PatBlt(canvas.Canvas(), 0, 0, width, height, BLACKNESS);

    Image1->RemovePicture();
    Image1->SetWidth(width);
    Image1->SetHeight(height);
    Image1->SetPicture(canvas);
    HasFileName = 0;
}

void TForm1::OPen1Click(QObject *)
{
    if (!ExecuteFileDialog(*OpenDialog1))
        return;
    const std::string fileName = ConfirmedFile(*OpenDialog1);
    // A file that no reader accepts is reported and changes nothing, rather than silently
    // putting the last stamp picture in place of the user's canvas.
    if (!TryLoadGra(fileName))
        RaiseFOpenError(fileName);

    Image1->RemovePicture();
    Image1->SetWidth(Image2->Width());
    Image1->SetHeight(Image2->Height());
    // The staging image holds the picture at exactly its control's size after a load, so the
    // canvas can share its pixels; whichever of the two is written first gets its own copy.
    Image1->SetPicture(*Image2->Picture());
    SaveFileName.clear();
    HasFileName = 0;
}

void TForm1::Saveas1Click(QObject *)
{
    if (HasFileName == 0)
        SaveFileName = "*.bmp";
    SaveDialog1->selectFile(QString::fromStdString(SaveFileName));
    if (!ExecuteFileDialog(*SaveDialog1))
        return;
    SaveFileName = ConfirmedFile(*SaveDialog1);
    HasFileName = 1;
    if (Image1->HasPicture())
        SaveBitmapFile(*Image1->Picture(), SaveFileName);
}

void TForm1::Save1Click(QObject *Sender)
{
    if (HasFileName == 0) {
        Saveas1Click(Sender);
        return;
    }
    if (Image1->HasPicture())
        SaveBitmapFile(*Image1->Picture(), SaveFileName);
}

void TForm1::Copy1Click(QObject *)
{
    Clipboard().Assign(Image1->Canvas().Bitmap());
}

void TForm1::NewPaste1Click(QObject *)
{
    if (!Clipboard().HasFormat(CF_BITMAP))
        return;
    TBitmap pasted;
    Clipboard().AssignTo(pasted);
    // The control keeps its size; only the picture takes the clipboard's size.
    Image1->SetPicture(pasted);
}
