#include "output/jpegwriter.h"

#include "output/outputfile.h"
#include "output/pixelbuffer.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <turbojpeg.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The encoder's result for a failure of its own; file-system failures carry their errno instead.
constexpr int kEncoderFailed = -1;

// Full-resolution colour: the picture is text and thin lines on coloured cells, whose edges halved colour
// resolution would smear.
constexpr int kSubsampling = TJSAMP_444;

QString errorSource()
{
    // Error sources name the program and then the module, as they always have.
    QString program = QStringLiteral("rotavine");
    if (QCoreApplication::instance())
        program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return program + QStringLiteral(".mIntelJPEGLibrary");
}

[[noreturn]] void failInit(int result, const QString& detail)
{
    throw JpegError(errorSource(),
                    QStringLiteral("Failed to initialise the IJL library: ") + QString::number(result),
                    detail);
}

[[noreturn]] void failWrite(int result, const QString& detail)
{
    throw JpegError(errorSource(), QStringLiteral("Failed to save to JPG ") + QString::number(result),
                    detail);
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

struct CompressorDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
struct JpegBytesDeleter {
    void operator()(unsigned char* bytes) const { tjFree(bytes); }
};

} // namespace

JpegError::JpegError(QString source, QString description, QString detail)
    : m_source(std::move(source)), m_description(std::move(description)), m_detail(std::move(detail))
{
    m_what = (m_description + QStringLiteral(" (") + m_detail + u')').toUtf8();
}

bool saveJpeg(const PixelBuffer& buffer, const QString& fileName, int quality)
{
    const std::unique_ptr<void, CompressorDeleter> compressor(tjInitCompress());
    if (!compressor)
        failInit(kEncoderFailed, QString::fromLocal8Bit(tjGetErrorStr2(nullptr)));

    // What stands at the name goes first, so that a failed save never leaves an old picture looking new.
    const QByteArray path = QFile::encodeName(fileName);
    OutputFile::Options options;
    struct stat existing {};
    if (::lstat(path.constData(), &existing) == 0) {
        // Only a regular file hands on its times and permissions; a link's own are no file's.
        if (S_ISREG(existing.st_mode)) {
            options.mode = existing.st_mode & 07777;
            options.times = std::array<timespec, 2>{existing.st_atim, existing.st_mtim};
        }
        if (::unlink(path.constData()) != 0) {
            const int error = errno;
            failWrite(error, QStringLiteral("cannot remove %1: %2").arg(fileName, systemError(error)));
        }
    }

    const unsigned char* pixels = buffer.bits();
    if (!pixels || buffer.width() <= 0 || buffer.height() <= 0)
        failWrite(kEncoderFailed, QStringLiteral("the picture holds no pixels"));

    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int result =
        tjCompress2(compressor.get(), pixels, buffer.width(), buffer.bytesPerScanLine(), buffer.height(),
                    TJPF_BGR, &jpeg, &jpegSize, kSubsampling, quality, TJFLAG_BOTTOMUP);
    const std::unique_ptr<unsigned char, JpegBytesDeleter> owned(jpeg);
    if (result != 0)
        failWrite(result, QString::fromLocal8Bit(tjGetErrorStr2(compressor.get())));

    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(jpeg), qsizetype(jpegSize));
    if (const auto failure = OutputFile::write(fileName, bytes, options))
        failWrite(failure->error, failure->reason);
    return true;
}
