// The stamp list window: file browsing, the stamp list and the stamp options.
#pragma once

#include <QWidget>

#include "platform/widgets/browsing.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QAction;
class QPushButton;

class TForm2 : public QWidget {
    Q_OBJECT
public:
    TForm2();
    ~TForm2() override;

    TFileListBox *FileListBox1 = nullptr;
    TDirectoryListBox *DirectoryListBox1 = nullptr;
    TDriveComboBox *DriveComboBox1 = nullptr;
    QPushButton *Button1 = nullptr;
    QListWidget *ListBox1 = nullptr;   // the stamp list
    QPushButton *Button2 = nullptr;
    QLineEdit *Edit1 = nullptr;        // width limit
    QLineEdit *Edit2 = nullptr;        // height limit
    QLabel *Label1 = nullptr;
    QCheckBox *CheckBox1 = nullptr;    // size limit on
    QCheckBox *CheckBox2 = nullptr;    // yellow frame
    QCheckBox *CheckBox3 = nullptr;    // snap to the stamp's own grid
    QCheckBox *CheckBox4 = nullptr;    // no GIF transparency
    QCheckBox *CheckBox5 = nullptr;    // list order
    QPushButton *Button3 = nullptr;
    QCheckBox *CheckBox6 = nullptr;    // no drawing while dragging
    QLabel *Label2 = nullptr;          // the list-order position last shown
    QMenu *PopupMenu1 = nullptr;
    QAction *SelectAll1 = nullptr;
    QMenu *PopupMenu2 = nullptr;
    QAction *Clear1 = nullptr;

    void Button1Click(QObject *Sender);
    void Button2Click(QObject *Sender);
    void Button3Click(QObject *Sender);
    void SelectAll1Click(QObject *Sender);
    void Clear1Click(QObject *Sender);
};

extern TForm2 *Form2;
