// The canvas window: the program's main window, holding the canvas, the hidden staging image,
// the menus, the two file dialogs and the state the other windows share through it.
#pragma once

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/widgets/image_control.h"

class QAction;
class QFileDialog;
class QMenu;
class QMenuBar;
class QScrollArea;
class TNameOnlyIconProvider;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    TForm1();
    ~TForm1() override;

    TImage *Image1;        // the canvas
    QMenuBar *MainMenu1;
    QMenu *File1;
    QAction *New1;
    QAction *Save1;
    QAction *Saveas1;
    QAction *N1;
    QAction *N2;
    QAction *OPen1;
    QAction *Quit1;
    TImage *Image2;        // the staging image, never shown
    QMenu *Edit1;
    QMenu *View1;
    QAction *File2;
    QAction *NewPaste1;
    QAction *Copy1;
    QFileDialog *OpenDialog1;
    QFileDialog *SaveDialog1;
    QAction *N3;
    QAction *Adjust1;

    // The list-order position: the stamp list entry the next list-order stamp takes.
    int32_t StampIndex = 0;

    void LoadGra(std::string fileName);
    // LoadGra that also tells whether the staging image now holds the file's picture.
    bool TryLoadGra(const std::string &fileName);

    // The save file name: the file last confirmed in the save dialog, which Save writes to while
    // HasFileName is 1. Save as presets it to "*.bmp" when there is none; Open empties it.
    std::string SaveFileName;
    // Shows a file dialog modally and tells whether the user confirmed a file. Tests put their
    // own answer here, since a file dialog cannot be answered without a user.
    std::function<bool(QFileDialog &dialog)> ExecuteFileDialog = RunFileDialog;
    static bool RunFileDialog(QFileDialog &dialog);
    void New1Click(QObject *Sender);
    void File2Click(QObject *Sender);
    void NewPaste1Click(QObject *Sender);
    void Copy1Click(QObject *Sender);
    void Image1MouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void PutImage(int X, int Y);
    void FormCreate(QObject *Sender);
    void Image1MouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    void OPen1Click(QObject *Sender);
    void Save1Click(QObject *Sender);
    void Saveas1Click(QObject *Sender);
    void Adjust1Click(QObject *Sender);
    void FormKeyDown(QObject *Sender, uint16_t &Key, Qt::KeyboardModifiers Shift);

    // The client area: the part of the window below the menu bar.
    int ClientWidth() const;
    int ClientHeight() const;
    // Resizes the window around a client area of this width or height; its top-left corner
    // stays where it is.
    void SetClientWidth(int width);
    void SetClientHeight(int height);
    QScrollArea *ScrollBox() const { return scrollBox_; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void BuildMenu();
    void BuildDialogs();
    int MenuHeight() const;

    QScrollArea *scrollBox_;
    std::unique_ptr<TNameOnlyIconProvider> icons_;
};

// Set to 1 when the canvas has a save file name (the save dialog's), 0 when it has none.
extern int32_t HasFileName;
extern TForm1 *Form1;
