#pragma once

#include <QImage>

#include <cstdlib>
#include <memory>

// A 24-bit picture laid out the way the JPEG writer reads it in place: blue, green, red for each pixel, every
// row padded to a multiple of four bytes, and the bottom row first in memory. The buffer owns its pixel
// memory and releases it when it is cleared up, re-created or destroyed.
class PixelBuffer {
public:
    // Larger pictures are refused rather than attempted: a JPEG holds at most 65 500 pixels a side, and a
    // planning never needs more than a few hundred megabytes.
    static constexpr int kMaxSide = 65500;
    static constexpr qint64 kMaxBytes = qint64(1) << 31;

    PixelBuffer() = default;
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;
    ~PixelBuffer() = default;

    // Releases any earlier picture, then makes a black one of width × height pixels. False, leaving the
    // buffer empty, for a side that is not positive, a picture too large or memory that cannot be had.
    bool create(int width, int height);
    // A buffer of the picture's size holding a copy of it; empty when the picture is null or too large.
    bool createFromPicture(const QImage& picture);
    // Copies the source's area starting at (x, y) into the buffer at (0, 0); a negative width or height
    // stands for the buffer's own. Only the part that lies inside both pictures is copied.
    void copyFrom(const QImage& source, int x, int y, int width, int height);

    int width() const { return m_width; }
    int height() const { return m_height; }
    int bytesPerScanLine() const { return bytesPerScanLine(m_width); }
    // The pixel memory, bottom row first; nullptr when the buffer holds no picture.
    unsigned char* bits() { return m_bits.get(); }
    const unsigned char* bits() const { return m_bits.get(); }
    // Releases the pixel memory; the buffer is then empty, as a new one is.
    void clear();

    static int bytesPerScanLine(int width) { return (3 * width + 3) & ~3; }

private:
    struct Free {
        void operator()(unsigned char* bits) const { std::free(bits); }
    };
    // The start of the row that is `row` from the top of the picture.
    unsigned char* scanLine(int row)
    {
        return m_bits.get() + qsizetype(m_height - 1 - row) * bytesPerScanLine();
    }

    std::unique_ptr<unsigned char, Free> m_bits;
    int m_width = 0;
    int m_height = 0;
};
