#include "ui/SimpleDibWidget.h"

#include <QImage>
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

void CWidget::Create(const QRect* rect, bool shown) {
    m_rect = rect != nullptr ? *rect : QRect();
    m_shown = shown;
}

bool CWidget::SetShown(bool shown) {
    if (shown == m_shown) {
        return false;
    }
    m_shown = shown;
    return true;
}

void CSimpleDibWidget::Draw(QPainter& painter) const {
    if (!m_image || !m_image->IsValid()) {
        return;
    }
    const CDib& image = *m_image;
    const QRect& r = Rect();
    const RECT fitted = FitPreviewRect(
        RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}, image.Size());
    const QRect target(fitted.left, fitted.top, fitted.right - fitted.left,
                       fitted.bottom - fitted.top);
    QImage picture = image.BitCount() == 32 ? PremultipliedCopy(image) : QImage();
    if (picture.isNull()) {
        picture = OpaqueCopy(image);
    }
    if (picture.isNull()) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(target, picture, picture.rect());
    painter.restore();
}

}  // namespace qv
