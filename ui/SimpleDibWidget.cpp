#include "ui/SimpleDibWidget.h"

#include <QPainter>
#include <cstring>

#include "trim/TrimRect.h"

namespace qv {

namespace {

// A top-down QImage copy of a 32-bit image with its colours premultiplied
// by alpha; null when the copy cannot be made.
QImage PremultipliedCopy(const CDib& image) {
    CDib copy;
    if (!copy.Create(image.Width(), image.Header()->biHeight, 32, 0, BI_RGB) ||
        !copy.AllocateBits() || copy.GetImageSize() != image.GetImageSize()) {
        return {};
    }
    std::memcpy(copy.Bits(), image.Bits(), image.GetImageSize());
    copy.PremultiplyAlpha();
    QImage out(copy.Width(), copy.Height(), QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) {
        return {};
    }
    for (LONG y = 0; y < copy.Height(); ++y) {
        std::memcpy(out.scanLine(y), copy.Row(y), std::size_t{4} * copy.Width());
    }
    return out;
}

// A top-down QImage copy of a 24-bit or palette image; null for others.
QImage OpaqueCopy(const CDib& image) {
    QImage out;
    std::size_t rowBytes = 0;
    switch (image.BitCount()) {
        case 24:
            out = QImage(image.Width(), image.Height(), QImage::Format_BGR888);
            rowBytes = std::size_t{3} * image.Width();
            break;
        case 32:  // what is left when no premultiplied copy could be made
            out = QImage(image.Width(), image.Height(), QImage::Format_RGB32);
            rowBytes = std::size_t{4} * image.Width();
            break;
        case 8: {
            out = QImage(image.Width(), image.Height(), QImage::Format_Indexed8);
            QList<QRgb> colors;
            const RGBQUAD* table = image.ColorTable();
            for (DWORD i = 0; i < CDib::ColorTableEntries(image.Header()); ++i) {
                colors.push_back(qRgb(table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue));
            }
            out.setColorTable(colors);
            rowBytes = image.Width();
            break;
        }
        default:
            return {};
    }
    if (out.isNull()) {
        return {};
    }
    for (LONG y = 0; y < image.Height(); ++y) {
        std::memcpy(out.scanLine(y), image.Row(y), rowBytes);
    }
    return out;
}

}  // namespace

CSimpleDibWidget::CSimpleDibWidget(QSize hint, QWidget* parent) : QWidget(parent), m_hint(hint) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void CSimpleDibWidget::SetImage(DibPtr image) {
    m_image = std::move(image);
    m_picture = QImage();
    if (m_image && m_image->IsValid()) {
        if (m_image->BitCount() == 32) {
            m_picture = PremultipliedCopy(*m_image);
        }
        if (m_picture.isNull()) {
            m_picture = OpaqueCopy(*m_image);
        }
    }
    update();
}

void CSimpleDibWidget::Draw(QPainter& painter, const QRect& r) const {
    if (m_picture.isNull()) {
        return;
    }
    const RECT fitted =
        FitPreviewRect(RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()},
                       SIZE{m_picture.width(), m_picture.height()});
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(
        QRect(fitted.left, fitted.top, fitted.right - fitted.left, fitted.bottom - fitted.top),
        m_picture, m_picture.rect());
    painter.restore();
}

void CSimpleDibWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Draw(painter, rect());
}

}  // namespace qv
