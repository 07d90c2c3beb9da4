// CSimpleDibWidget: the preview pane, a widget that shows a CDib fitted into
// its rectangle.
//
// The picture is converted once, when it is set; painting only scales the
// cached copy. A 32-bit image is drawn with its alpha over the window's
// background from a premultiplied copy (the image itself is never
// changed); 24- and 8-bit images are drawn opaque, smoothly scaled; other
// depths draw nothing. Fitting is FitPreviewRect's (same aspect within
// 0.01: the whole rectangle; otherwise the full height or width, centred,
// stretched to the full rectangle when fewer than 5 pixels would stay free).
//
// Everything runs on the user-interface thread.
#pragma once

#include <QImage>
#include <QWidget>

#include "image/Dib.h"

namespace qv {

class CSimpleDibWidget : public QWidget {
  public:
    // `hint`: the size the pane asks the layout for.
    explicit CSimpleDibWidget(QSize hint, QWidget* parent = nullptr);

    // Replaces the picture (the previous one is released) and repaints.
    void SetImage(DibPtr image);
    const DibPtr& Image() const { return m_image; }
    // The picture as it is drawn (null without one it can draw).
    const QImage& Picture() const { return m_picture; }

    // Draws the picture fitted into `target` (pixels of `painter`).
    void Draw(QPainter& painter, const QRect& target) const;

    QSize sizeHint() const override { return m_hint; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QSize m_hint;
    DibPtr m_image;
    QImage m_picture;
};

}  // namespace qv
