// The system clipboard as a bitmap. Copy offers the canvas to every program (under X11 Qt
// serves it as image/png, image/bmp and the other image types it can write); Paste takes any
// picture another program offers in a type Qt can read.
#pragma once

#include "platform/bitmap.h"

// The clipboard's bitmap format; a picture of any readable type counts as one.
inline constexpr unsigned CF_BITMAP = 2;

class TClipboard {
public:
    // True when the clipboard offers something in the format, here a picture.
    bool HasFormat(unsigned format) const;
    // Empties the clipboard and puts a copy of the bitmap on it.
    void Assign(const TBitmap &bitmap);
    // Replaces the bitmap with a copy of the clipboard's picture at its own size. Throws
    // EClipboardException when the clipboard claims a picture but gives none that can be read,
    // and EOutOfResources for a picture beyond the program's limits; the bitmap is unchanged
    // then.
    void AssignTo(TBitmap &bitmap) const;
};

// The program's one clipboard object.
TClipboard &Clipboard();
