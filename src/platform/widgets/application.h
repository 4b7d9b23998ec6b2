// The application object: program path and title, the windows it owns, the main loop, and the
// error report through which every unhandled platform error reaches the user.
#pragma once

#include <QApplication>
#include <QFont>
#include <QString>

#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "platform/errors.h"

class TApplication {
public:
    TApplication(int &argc, char **argv);
    ~TApplication();

    // Sets the title from the program file and the stand-in for the windows' Japanese font.
    void Initialize();

    // Creates a window owned by the application; the first one becomes the main window.
    template <class Form> void CreateForm(Form *&reference)
    {
        reference = new Form();
        forms_.push_back(reference);
        if (!mainForm_)
            mainForm_ = reference;
    }

    // Shows the main window and runs the main loop until the program ends.
    int Run();
    QWidget *MainForm() const { return mainForm_; }

    // The full path of the program file.
    std::string ExeName() const;
    const QString &Title() const { return title_; }

    // Shows the error report: the message with "." appended, the title as caption, a stop icon
    // and one OK button. A mouse grab in progress is released first.
    void ShowException(const EPlatformError &error);
    // Where error reports go instead of a message box, so tests can read them.
    std::function<void(const QString &title, const QString &text)> ErrorSink;

private:
    std::unique_ptr<QApplication> qt_;
    std::vector<QWidget *> forms_;
    QWidget *mainForm_ = nullptr;
    QString title_;
};

extern TApplication *Application;

// The title for a program file: its name without directory, cut before the first ".", every
// character after the first in lower case ("KETTO.EXE" gives "Ketto").
QString ApplicationTitleFromPath(const std::string &path);

// The windows' font: the Japanese face (a substitute stands in where it is missing).
QFont FormFont(int pixelSize);

// A colour value (0x00BBGGRR) as Qt takes it.
QColor ToQColor(TColor colour);
// The look the three windows share: clTeal behind everything, the given text colour, and the
// Japanese font 12 pixels high.
void ApplyFormLook(QWidget *form, const QColor &text);
// Gives one control its own background colour, keeping the window's text colour.
void SetControlColour(QWidget *control, TColor colour);

// Runs an event handler; a platform error it raises goes to the error report, so no exception
// ever travels through Qt's own frames.
template <class F> void Guard(F &&handler)
{
    try {
        handler();
    } catch (const EPlatformError &error) {
        Application->ShowException(error);
    } catch (const std::bad_alloc &) {
        Application->ShowException(EOutOfResources(Msg::OutOfResources));
    }
}

// A slot for a handler that takes its sender, e.g. Handler(this, &TForm1::New1Click).
template <class Form, class Sender> auto Handler(Form *form, void (Form::*method)(Sender *))
{
    return [form, method]() { Guard([&] { (form->*method)(nullptr); }); };
}
