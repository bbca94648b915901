#include "output/jpegwriter.h"

#include "output/outputfile.h"
#include "output/pixelbuffer.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// jpeglib.h needs FILE declared before it.
#include <jpeglib.h>
// After jpeglib.h, which it builds on.
#include <jerror.h>

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

// Removes what stands at the name, so that a failed save never leaves an old picture looking new, and
// returns what the new file takes over from it.
OutputFile::Options clearTarget(const QString& fileName)
{
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
    return options;
}

void store(const QString& fileName, const QByteArray& bytes, const OutputFile::Options& options)
{
    if (const auto failure = OutputFile::write(fileName, bytes, options))
        failWrite(failure->error, failure->reason);
}

// The sizes the 24-bit buffer accepts, so that both ways refuse the same pictures.
bool acceptedSize(const QSize& size)
{
    return size.width() > 0 && size.height() > 0 && size.width() <= PixelBuffer::kMaxSide &&
           size.height() <= PixelBuffer::kMaxSide &&
           qint64(PixelBuffer::bytesPerScanLine(size.width())) * size.height() <= PixelBuffer::kMaxBytes;
}

// libjpeg's compressor writing into memory. Its errors jump back to guarded(), whose frames hold nothing
// that needs destroying; the encoder itself is destroyed the ordinary way.
struct Encoder {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_destination_mgr destination{};
    std::jmp_buf jump{};
    char message[JMSG_LENGTH_MAX] = {};
    bool created = false;
    QByteArray output;
    std::array<JOCTET, 65536> chunk{};

    Encoder() = default;
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
    ~Encoder()
    {
        if (created)
            jpeg_destroy_compress(&info);
    }

    static Encoder& of(j_common_ptr info) { return *static_cast<Encoder*>(info->client_data); }
    static Encoder& of(j_compress_ptr info) { return *static_cast<Encoder*>(info->client_data); }

    // Appends what the chunk holds; false when memory ran out.
    bool flush(size_t bytes) noexcept
    {
        try {
            output.append(reinterpret_cast<const char*>(chunk.data()), qsizetype(bytes));
            return true;
        }
        catch (const std::bad_alloc&) {
            return false;
        }
    }
};

template <typename Call>
bool guarded(Encoder& encoder, const Call& call)
{
    if (setjmp(encoder.jump))
        return false;
    call();
    return true;
}

void failEncoder [[noreturn]] (j_common_ptr info)
{
    Encoder& encoder = Encoder::of(info);
    info->err->format_message(info, encoder.message);
    std::longjmp(encoder.jump, 1);
}

void startChunk(j_compress_ptr info)
{
    Encoder& encoder = Encoder::of(info);
    encoder.destination.next_output_byte = encoder.chunk.data();
    encoder.destination.free_in_buffer = encoder.chunk.size();
}

boolean passChunk(j_compress_ptr info)
{
    if (!Encoder::of(info).flush(Encoder::of(info).chunk.size())) {
        info->err->msg_code = JERR_OUT_OF_MEMORY;
        info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
    }
    startChunk(info);
    return TRUE;
}

void passLastChunk(j_compress_ptr info)
{
    Encoder& encoder = Encoder::of(info);
    if (!encoder.flush(encoder.chunk.size() - encoder.destination.free_in_buffer)) {
        info->err->msg_code = JERR_OUT_OF_MEMORY;
        info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
    }
}

// Set up as tjCompress2 sets up libjpeg for TJPF_BGR, TJSAMP_444 and no flags, apart from the pixels' layout:
// Qt's 32-bit pixels are read in place, which the colour conversion treats exactly as 24-bit ones.
void setUp(jpeg_compress_struct& info, const QSize& size, int quality)
{
    info.image_width = JDIMENSION(size.width());
    info.image_height = JDIMENSION(size.height());
    info.in_color_space = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    info.input_components = 4;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.dct_method = quality >= 96 ? JDCT_ISLOW : JDCT_FASTEST;
    jpeg_set_colorspace(&info, JCS_YCbCr);
    for (int component = 0; component < info.num_components; ++component) {
        info.comp_info[component].h_samp_factor = 1;
        info.comp_info[component].v_samp_factor = 1;
    }
    jpeg_start_compress(&info, TRUE);
}

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

    const OutputFile::Options options = clearTarget(fileName);

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

    store(fileName, QByteArray::fromRawData(reinterpret_cast<const char*>(jpeg), qsizetype(jpegSize)),
          options);
    return true;
}

bool saveJpeg(const QSize& size, const JpegRowSource& rows, const QString& fileName, int quality)
{
    const auto encoder = std::make_unique<Encoder>();
    jpeg_compress_struct& info = encoder->info;
    info.err = jpeg_std_error(&encoder->errors);
    encoder->errors.error_exit = failEncoder;
    info.client_data = encoder.get();
    if (!guarded(*encoder, [&] { jpeg_create_compress(&info); }))
        failInit(kEncoderFailed, QString::fromLocal8Bit(encoder->message));
    encoder->created = true;
    encoder->destination.init_destination = startChunk;
    encoder->destination.empty_output_buffer = passChunk;
    encoder->destination.term_destination = passLastChunk;
    info.dest = &encoder->destination;

    const OutputFile::Options options = clearTarget(fileName);

    if (!acceptedSize(size))
        failWrite(kEncoderFailed, QStringLiteral("the picture holds no pixels"));
    if (quality < 0 || quality > 100)
        failWrite(kEncoderFailed, QStringLiteral("Invalid argument: quality %1").arg(quality));
    if (!guarded(*encoder, [&] { setUp(info, size, quality); }))
        failWrite(kEncoderFailed, QString::fromLocal8Bit(encoder->message));

    std::vector<JSAMPROW> scanLines;
    for (int top = 0; top < size.height();) {
        const QImage strip = rows(top);
        if (strip.isNull() || strip.format() != QImage::Format_RGB32 || strip.width() != size.width())
            failWrite(kEncoderFailed, QStringLiteral("rows from %1 on could not be drawn").arg(top));
        const int count = std::min(strip.height(), size.height() - top);
        scanLines.resize(size_t(count));
        for (int row = 0; row < count; ++row)
            // libjpeg only reads them.
            scanLines[size_t(row)] = const_cast<JSAMPROW>(strip.constScanLine(row));
        if (!guarded(*encoder, [&] { jpeg_write_scanlines(&info, scanLines.data(), JDIMENSION(count)); }))
            failWrite(kEncoderFailed, QString::fromLocal8Bit(encoder->message));
        top += count;
    }
    if (!guarded(*encoder, [&] { jpeg_finish_compress(&info); }))
        failWrite(kEncoderFailed, QString::fromLocal8Bit(encoder->message));

    store(fileName, encoder->output, options);
    return true;
}
