// The new-canvas dialog: asks for the width and height of a new canvas.
#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    TForm3();
    ~TForm3() override;

    QLineEdit *Edit1 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;

    // The width and height that OK read from the edits; New reads them only after OK.
    int32_t NewWidth = 0;
    int32_t NewHeight = 0;

    void Button2Click(QObject *Sender);
    void Button1Click(QObject *Sender);

    // Shows the dialog modally with its current texts, hides it again and returns the modal
    // result: 1 for OK, 2 for CANCEL (also the close box, the system menu and Alt+F4).
    int ShowModal();

    // The modal result of the showing in progress, 0 while the dialog is open.
    int ModalResult() const { return result(); }

    static constexpr int mrOk = 1;
    static constexpr int mrCancel = 2;

    // Closing through the frame counts as CANCEL.
    void reject() override;

protected:
    // Esc presses neither button: the dialog has no cancel button.
    void keyPressEvent(QKeyEvent *event) override;
};

extern TForm3 *Form3;
