#include "stamp_list_window/stamp_list_window.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "canvas_window/canvas_window.h"

TForm2 *Form2 = nullptr;

TForm2::TForm2()
{
    setWindowTitle("File");
    ListBox1 = new QListWidget(this);
    Edit1 = new QLineEdit("256", this);
    Edit2 = new QLineEdit("256", this);
    CheckBox1 = new QCheckBox(this);
    CheckBox2 = new QCheckBox(this);
    CheckBox3 = new QCheckBox(this);
    CheckBox4 = new QCheckBox(this);
    CheckBox5 = new QCheckBox(this);
    CheckBox6 = new QCheckBox(this);
    Label2 = new QLabel("0", this);
    show();
}

TForm2::~TForm2() = default;

void TForm2::Button1Click(QObject *) {}
void TForm2::Button2Click(QObject *) {}
void TForm2::Button3Click(QObject *) {}
void TForm2::SelectAll1Click(QObject *) {}
void TForm2::Clear1Click(QObject *) {}

void TForm1::File2Click(QObject *) {}
