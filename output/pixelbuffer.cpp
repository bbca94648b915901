#include "output/pixelbuffer.h"

#include <algorithm>
#include <cstring>

bool PixelBuffer::create(int width, int height)
{
    clear();
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return false;
    const qint64 bytes = qint64(bytesPerScanLine(width)) * height;
    if (bytes > kMaxBytes)
        return false;
    // calloc: large blocks come zeroed from the system at no cost, and the padding bytes are defined.
    m_bits.reset(static_cast<unsigned char*>(std::calloc(size_t(bytes), 1)));
    if (!m_bits)
        return false;
    m_width = width;
    m_height = height;
    return true;
}

bool PixelBuffer::createFromPicture(const QImage& picture)
{
    if (!create(picture.width(), picture.height()))
        return false;
    copyFrom(picture, 0, 0, -1, -1);
    return true;
}

void PixelBuffer::copyFrom(const QImage& source, int x, int y, int width, int height)
{
    if (!m_bits || source.isNull())
        return;
    if (width < 0)
        width = m_width;
    if (height < 0)
        height = m_height;
    // The part of the requested area that lies inside both the source and the buffer, in source coordinates.
    const qint64 left = std::max(x, 0);
    const qint64 top = std::max(y, 0);
    const qint64 right = std::min({qint64(x) + width, qint64(source.width()), qint64(x) + m_width});
    const qint64 bottom = std::min({qint64(y) + height, qint64(source.height()), qint64(y) + m_height});
    if (right <= left || bottom <= top)
        return;
    const int copiedColumns = int(right - left);
    const int copiedRows = int(bottom - top);
    const int targetX = int(left - x);
    const int targetY = int(top - y);

    // The grid's own pictures are 32-bit and copy straight across; anything else is converted once.
    switch (source.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        for (int row = 0; row < copiedRows; ++row) {
            const auto* from = reinterpret_cast<const QRgb*>(source.constScanLine(int(top) + row)) + left;
            unsigned char* to = scanLine(targetY + row) + 3 * targetX;
            for (int column = 0; column < copiedColumns; ++column, to += 3) {
                to[0] = static_cast<unsigned char>(qBlue(from[column]));
                to[1] = static_cast<unsigned char>(qGreen(from[column]));
                to[2] = static_cast<unsigned char>(qRed(from[column]));
            }
        }
        break;
    default: {
        const QImage bgr = source.convertToFormat(QImage::Format_BGR888);
        if (bgr.isNull())
            return;
        for (int row = 0; row < copiedRows; ++row)
            std::memcpy(scanLine(targetY + row) + 3 * targetX, bgr.constScanLine(int(top) + row) + 3 * left,
                        size_t(3) * size_t(copiedColumns));
        break;
    }
    }
}

void PixelBuffer::clear()
{
    m_bits.reset();
    m_width = 0;
    m_height = 0;
}
