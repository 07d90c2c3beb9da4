// Window-less widgets: a rectangle of a parent window's client area that the
// parent paints from its own paint handler. CSimpleDibWidget draws a CDib
// there, fitted to the rectangle.
//
// Rectangles are in the parent's client coordinates, pixels. Everything
// runs on the user-interface thread.
#pragma once

#include <QRect>

#include "image/Dib.h"

class QPainter;
class QWidget;

namespace qv {

class CWidget {
  public:
    virtual ~CWidget() = default;

    // Sets the rectangle (empty for null) and the shown flag.
    void Create(const QRect* rect, bool shown);
    // False when unchanged; else sets it, true.
    bool SetShown(bool shown);

    const QRect& Rect() const { return m_rect; }
    bool IsShown() const { return m_shown; }

  private:
    QRect m_rect;
    bool m_shown = false;
};

class CSimpleDibWidget : public CWidget {
  public:
    // Replaces the image (the previous one is released). The image is only
    // read, never changed.
    void SetImage(DibPtr image) { m_image = std::move(image); }
    const DibPtr& Image() const { return m_image; }

    // Draws the image into the rectangle, fitted by FitPreviewRect (same
    // aspect within 0.01: the whole rectangle; otherwise the full height or
    // width, centred, stretched to the full rectangle when fewer than 5
    // pixels would stay free). A 32-bit image is drawn with its alpha over
    // what is already there, from a premultiplied copy; 24- and 8-bit images
    // are drawn opaque, smoothly scaled. Nothing without an image or for
    // other depths.
    void Draw(QPainter& painter) const;

  private:
    DibPtr m_image;
};

}  // namespace qv
