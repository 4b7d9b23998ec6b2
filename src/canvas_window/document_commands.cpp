#include "canvas_window/canvas_window.h"

void TForm1::New1Click(QObject *) {}
void TForm1::OPen1Click(QObject *) {}
void TForm1::Save1Click(QObject *) {}
void TForm1::Saveas1Click(QObject *) {}
void TForm1::Copy1Click(QObject *) {}
void TForm1::NewPaste1Click(QObject *) {}
