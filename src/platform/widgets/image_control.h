// The image control: shows a bitmap at 1:1 from its top-left corner and reports the mouse.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>

#include "platform/bitmap.h"

class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget *parent = nullptr);
    ~TImage() override;

    int Width() const { return width(); }
    int Height() const { return height(); }
    // The control's size; the picture is not touched.
    void SetWidth(int width);
    void SetHeight(int height);

    bool HasPicture() const { return picture_ != nullptr; }
    // The picture, or null when there is none.
    TBitmap *Picture() { return picture_.get(); }
    const TBitmap *Picture() const { return picture_.get(); }
    // Installs the control's own copy of the bitmap (pixels shared until one side writes).
    void SetPicture(const TBitmap &bitmap);
    void RemovePicture();

    // The drawing surface of the picture. A control without a picture first gets a white bitmap
    // of its own width and height (throws EOutOfResources when that size cannot be made).
    TCanvas &Canvas();

    // Paints the given rectangle of the control before returning.
    void RepaintRect(int x, int y, int width, int height);

    // Mouse events in the control's own coordinates, which are bitmap pixel coordinates.
    std::function<void(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)> OnMouseDown;
    std::function<void(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y)> OnMouseMove;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    std::unique_ptr<TBitmap> picture_;
};
