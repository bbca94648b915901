#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <exception>
#include <functional>

class PixelBuffer;

// The one failure of the JPEG writer. The description is one of the program's two fixed texts with the
// failing result in decimal; the detail says in words what the encoder or the file system reported.
class JpegError : public std::exception {
public:
    static constexpr int kNumber = 26001;

    JpegError(QString source, QString description, QString detail);

    int number() const { return kNumber; }
    QString source() const { return m_source; }
    QString description() const { return m_description; }
    QString detail() const { return m_detail; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_source;
    QString m_description;
    QString m_detail;
    QByteArray m_what;
};

// Writes the buffer as a JPEG file of its size at the given quality (1 to 100), reading its pixels in place.
// A file that stands at fileName is removed first (a link is removed itself, never followed) and its access
// and modification times and permission bits are given to the new file. The new file appears whole or not at
// all: a failed save leaves no file at fileName. Returns true; every failure throws JpegError.
bool saveJpeg(const PixelBuffer& buffer, const QString& fileName, int quality);

// Hands the writer the picture's rows from `top` down, as many as the caller likes to draw at once: a
// QImage::Format_RGB32 picture of the full width whose first row is row `top`. The writer asks again with the
// next row until the picture is complete.
using JpegRowSource = std::function<QImage(int top)>;

// Writes a picture of `size` drawn piece by piece, so that neither the whole picture nor a 24-bit copy of it
// is ever held: the file has the same bytes saveJpeg(PixelBuffer) makes of the same pixels (TurboJPEG's
// TJ_OPTIMIZE, TJ_ARITHMETIC and TJ_RESTART variables aside, which only that one reads), and the same error
// behaviour. Returns true; every failure throws JpegError.
bool saveJpeg(const QSize& size, const JpegRowSource& rows, const QString& fileName, int quality);
