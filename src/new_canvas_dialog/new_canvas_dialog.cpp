#include "new_canvas_dialog/new_canvas_dialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/text.h"
#include "platform/widgets/application.h"

TForm3 *Form3 = nullptr;

namespace {

QLineEdit *ColouredEdit(const char *text, TColor colour, QWidget *parent)
{
    auto *edit = new QLineEdit(QString::fromUtf8(text), parent);
    SetControlColour(edit, colour);
    return edit;
}

// A button that neither Enter in an edit nor Esc can press: only a click, or Enter and the
// space bar while it has the keyboard focus.
QPushButton *PlainButton(const char *caption, QWidget *parent)
{
    auto *button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

TForm3::TForm3()
{
    setWindowTitle("New");
    // A fixed dialog frame: title, system menu and close box, no minimize or maximize box.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    move(214, 130);
    setFixedSize(147, 68);
    setSizeGripEnabled(false);
    ApplyFormLook(this, Qt::white);

    Edit1 = ColouredEdit("640", clOlive, this);
    Edit1->setGeometry(16, 8, 41, 20);

    Label1 = new QLabel("X", this);
    Label1->setGeometry(64, 16, 7, 12);

    Edit2 = ColouredEdit("480", clMaroon, this);
    Edit2->setGeometry(80, 8, 41, 20);

    Button1 = PlainButton("OK", this);
    Button1->setGeometry(16, 40, 57, 25);
    Button2 = PlainButton("CANCEL", this);
    Button2->setGeometry(80, 40, 57, 25);

    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Button1);
    setTabOrder(Button1, Button2);

    connect(Button1, &QPushButton::clicked, this, Handler(this, &TForm3::Button1Click));
    connect(Button2, &QPushButton::clicked, this, Handler(this, &TForm3::Button2Click));
}

TForm3::~TForm3() = default;

void TForm3::Button2Click(QObject *) { done(mrCancel); }

void TForm3::Button1Click(QObject *)
{
    // Width first: when only the height is wrong, the width is already taken, and when both
    // are wrong the message names the width's text.
    NewWidth = StrToInt(Edit1->text().toStdString());
    NewHeight = StrToInt(Edit2->text().toStdString());
    done(mrOk);
}

int TForm3::ShowModal()
{
    setResult(0);
    return exec();
}

void TForm3::reject() { done(mrCancel); }

void TForm3::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
