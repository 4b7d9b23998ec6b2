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

    int32_t NewWidth = 0;
    int32_t NewHeight = 0;

    void Button2Click(QObject *Sender);
    void Button1Click(QObject *Sender);

    // Shows the dialog modally with its current texts; 1 for OK, 2 for CANCEL.
    int ShowModal();
};

extern TForm3 *Form3;
