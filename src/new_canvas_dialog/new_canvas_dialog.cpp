#include "new_canvas_dialog/new_canvas_dialog.h"

TForm3 *Form3 = nullptr;

TForm3::TForm3() { setWindowTitle("New"); }
TForm3::~TForm3() = default;
void TForm3::Button2Click(QObject *) {}
void TForm3::Button1Click(QObject *) {}
int TForm3::ShowModal() { return 2; }
