#include "canvas_window/canvas_window.h"

void TForm1::Image1MouseDown(QObject *, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}
void TForm1::Image1MouseMove(QObject *, Qt::MouseButtons, int, int) {}
void TForm1::PutImage(int, int) {}
void TForm1::FormKeyDown(QObject *, uint16_t &, Qt::KeyboardModifiers) {}
