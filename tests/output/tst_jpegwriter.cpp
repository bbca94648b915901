#include "output/jpegwriter.h"
#include "output/pixelbuffer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <turbojpeg.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Decoded {
    int width = 0;
    int height = 0;
    int subsampling = -1;
    QImage image; // top row first, as a picture is seen
};

Decoded decode(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    tjhandle handle = tjInitDecompress();
    Decoded decoded;
    int colourspace = 0;
    const auto* jpeg = reinterpret_cast<const unsigned char*>(bytes.constData());
    if (tjDecompressHeader3(handle, jpeg, bytes.size(), &decoded.width, &decoded.height, &decoded.subsampling,
                            &colourspace) == 0) {
        decoded.image = QImage(decoded.width, decoded.height, QImage::Format_RGB888);
        if (tjDecompress2(handle, jpeg, bytes.size(), decoded.image.bits(), decoded.width,
                          int(decoded.image.bytesPerLine()), decoded.height, TJPF_RGB, 0) != 0)
            decoded.image = QImage();
    }
    tjDestroy(handle);
    return decoded;
}

// Close enough for JPEG at quality 90: a flat block keeps its colour within a few steps.
bool near(QRgb actual, QRgb expected)
{
    return std::abs(qRed(actual) - qRed(expected)) < 12 && std::abs(qGreen(actual) - qGreen(expected)) < 12 &&
           std::abs(qBlue(actual) - qBlue(expected)) < 12;
}

// White, a red block in the top left corner and a blue one in the bottom right.
QImage cornerPicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(Qt::white);
    for (int y = 0; y < height / 3; ++y)
        for (int x = 0; x < width / 3; ++x)
            picture.setPixel(x, y, qRgb(220, 0, 0));
    for (int y = height - height / 3; y < height; ++y)
        for (int x = width - width / 3; x < width; ++x)
            picture.setPixel(x, y, qRgb(0, 0, 220));
    return picture;
}

void setTimesAndMode(const QString& path, timespec access, timespec modification, mode_t mode)
{
    const timespec times[2] = {access, modification};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

QStringList leftovers(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class TestJpegWriter : public QObject {
    Q_OBJECT

private slots:
    void scanLines_data();
    void scanLines();
    void createRefused_data();
    void createRefused();
    void clearUpOnFreshBuffer();
    void createTwiceReplacesFirst();
    void pictureLayout_data();
    void pictureLayout();
    void blockCopyClips_data();
    void blockCopyClips();
    void roundTrip_data();
    void roundTrip();
    void replacingKeepsTimesAndMode();
    void linkIsReplacedNotFollowed();
    void failures_data();
    void failures();
    void unwritableFolder_data();
    void unwritableFolder();
};

void TestJpegWriter::scanLines_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("bytesPerScanLine");
    QTest::addColumn<int>("padding");
    QTest::newRow("1") << 1 << 4 << 1;
    QTest::newRow("2") << 2 << 8 << 2;
    QTest::newRow("3") << 3 << 12 << 3;
    QTest::newRow("4") << 4 << 12 << 0;
    QTest::newRow("5") << 5 << 16 << 1;
}

void TestJpegWriter::scanLines()
{
    QFETCH(int, width);
    QFETCH(int, bytesPerScanLine);
    QFETCH(int, padding);
    PixelBuffer buffer;
    QVERIFY(buffer.create(width, 3));
    QCOMPARE(buffer.width(), width);
    QCOMPARE(buffer.height(), 3);
    QCOMPARE(buffer.bytesPerScanLine(), bytesPerScanLine);
    QCOMPARE(buffer.bytesPerScanLine() - 3 * width, padding);
    QVERIFY(buffer.bits());
}

void TestJpegWriter::createRefused_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("zero width") << 0 << 10;
    QTest::newRow("zero height") << 10 << 0;
    QTest::newRow("negative") << -5 << 10;
    QTest::newRow("wider than a JPEG") << PixelBuffer::kMaxSide + 1 << 1;
    QTest::newRow("too many bytes") << 60000 << 60000;
    QTest::newRow("int overflow") << 2147483647 << 2147483647;
}

void TestJpegWriter::createRefused()
{
    QFETCH(int, width);
    QFETCH(int, height);
    PixelBuffer buffer;
    QVERIFY(buffer.create(4, 4));
    QVERIFY(!buffer.create(width, height));
    // The earlier picture is gone too.
    QCOMPARE(buffer.bits(), nullptr);
    QCOMPARE(buffer.width(), 0);
    QCOMPARE(buffer.height(), 0);
}

void TestJpegWriter::clearUpOnFreshBuffer()
{
    PixelBuffer buffer;
    buffer.clear();
    QCOMPARE(buffer.bits(), nullptr);
    QCOMPARE(buffer.width(), 0);
    QCOMPARE(buffer.height(), 0);
    buffer.clear();
    QVERIFY(buffer.create(2, 2));
    buffer.clear();
    QCOMPARE(buffer.bits(), nullptr);
}

void TestJpegWriter::createTwiceReplacesFirst()
{
    // The sanitizer build reports the first block if it is not released.
    PixelBuffer buffer;
    QVERIFY(buffer.create(7, 5));
    std::memset(buffer.bits(), 0xAB, size_t(buffer.bytesPerScanLine()) * 5);
    QVERIFY(buffer.create(3, 2));
    QCOMPARE(buffer.width(), 3);
    QCOMPARE(buffer.height(), 2);
    const unsigned char* bits = buffer.bits();
    for (int i = 0; i < buffer.bytesPerScanLine() * 2; ++i)
        QCOMPARE(int(bits[i]), 0);
}

void TestJpegWriter::pictureLayout_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::newRow("RGB32") << QImage::Format_RGB32;
    QTest::newRow("ARGB32") << QImage::Format_ARGB32;
    QTest::newRow("premultiplied") << QImage::Format_ARGB32_Premultiplied;
    QTest::newRow("RGB888") << QImage::Format_RGB888;
    QTest::newRow("BGR888") << QImage::Format_BGR888;
    QTest::newRow("RGB16") << QImage::Format_RGB16;
}

void TestJpegWriter::pictureLayout()
{
    QFETCH(QImage::Format, format);
    // Two rows of three pixels; colours RGB565 keeps exactly.
    QImage picture(3, 2, QImage::Format_RGB32);
    const QRgb top[3] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    const QRgb bottom[3] = {qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(255, 0, 255)};
    for (int x = 0; x < 3; ++x) {
        picture.setPixel(x, 0, top[x]);
        picture.setPixel(x, 1, bottom[x]);
    }
    PixelBuffer buffer;
    QVERIFY(buffer.createFromPicture(picture.convertToFormat(format)));
    QCOMPARE(buffer.bytesPerScanLine(), 12);
    const unsigned char* bits = buffer.bits();
    // Bottom row first, blue-green-red, three padding bytes of zero after each row.
    const QList<int> expected = {255, 255, 255, 0, 0,   0, 255, 0, 255, 0, 0, 0,
                                 0,   0,   255, 0, 255, 0, 255, 0, 0,   0, 0, 0};
    QList<int> actual;
    for (int i = 0; i < 24; ++i)
        actual.append(bits[i]);
    QCOMPARE(actual, expected);
}

void TestJpegWriter::blockCopyClips_data()
{
    QTest::addColumn<QRect>("area");   // x, y, width, height given to the copy
    QTest::addColumn<QPoint>("probe"); // a buffer pixel
    QTest::addColumn<QRgb>("expected");
    // The source's pixel (x, y) has red x * 10 and green y * 10.
    QTest::newRow("whole, own size") << QRect(0, 0, -1, -1) << QPoint(3, 2) << qRgb(30, 20, 0);
    QTest::newRow("offset source") << QRect(2, 1, -1, -1) << QPoint(0, 0) << qRgb(20, 10, 0);
    QTest::newRow("offset, last pixel") << QRect(2, 1, -1, -1) << QPoint(5, 3) << qRgb(70, 40, 0);
    QTest::newRow("past the source stays black") << QRect(4, 0, -1, -1) << QPoint(5, 0) << qRgb(0, 0, 0);
    QTest::newRow("narrow area") << QRect(0, 0, 2, 2) << QPoint(2, 0) << qRgb(0, 0, 0);
    QTest::newRow("narrow area inside") << QRect(0, 0, 2, 2) << QPoint(1, 1) << qRgb(10, 10, 0);
    QTest::newRow("negative origin") << QRect(-2, -1, -1, -1) << QPoint(2, 1) << qRgb(0, 0, 0);
    QTest::newRow("negative origin, copied") << QRect(-2, -1, -1, -1) << QPoint(3, 2) << qRgb(10, 10, 0);
    QTest::newRow("outside entirely") << QRect(100, 100, -1, -1) << QPoint(0, 0) << qRgb(0, 0, 0);
}

void TestJpegWriter::blockCopyClips()
{
    QFETCH(QRect, area);
    QFETCH(QPoint, probe);
    QFETCH(QRgb, expected);
    QImage source(8, 5, QImage::Format_RGB32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 8; ++x)
            source.setPixel(x, y, qRgb(x * 10, y * 10, 0));
    PixelBuffer buffer;
    QVERIFY(buffer.create(6, 4));
    buffer.copyFrom(source, area.x(), area.y(), area.width(), area.height());
    const unsigned char* pixel =
        buffer.bits() + (buffer.height() - 1 - probe.y()) * buffer.bytesPerScanLine() + 3 * probe.x();
    QCOMPARE(qRgb(pixel[2], pixel[1], pixel[0]), expected);
}

void TestJpegWriter::roundTrip_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1 x 1") << QSize(1, 1);
    QTest::newRow("odd width, padded rows") << QSize(97, 41);
    QTest::newRow("width a multiple of four") << QSize(64, 48);
    QTest::newRow("tall") << QSize(3, 300);
}

void TestJpegWriter::roundTrip()
{
    QFETCH(QSize, size);
    QTemporaryDir folder;
    const QString path = folder.filePath("planning.jpg");
    PixelBuffer buffer;
    QVERIFY(buffer.createFromPicture(cornerPicture(size.width(), size.height())));
    QVERIFY(saveJpeg(buffer, path, 90));

    const Decoded decoded = decode(path);
    QVERIFY(!decoded.image.isNull());
    QCOMPARE(QSize(decoded.width, decoded.height), size);
    QCOMPARE(decoded.subsampling, int(TJSAMP_444));
    if (size.width() >= 9 && size.height() >= 9) {
        // Upright and not mirrored: red stays top left, blue bottom right.
        const int w = size.width(), h = size.height();
        QVERIFY(near(decoded.image.pixel(w / 6, h / 6), qRgb(220, 0, 0)));
        QVERIFY(near(decoded.image.pixel(w - 1 - w / 6, h - 1 - h / 6), qRgb(0, 0, 220)));
        QVERIFY(near(decoded.image.pixel(w - 1 - w / 6, h / 6), qRgb(255, 255, 255)));
        QVERIFY(near(decoded.image.pixel(w / 6, h - 1 - h / 6), qRgb(255, 255, 255)));
    }
    QCOMPARE(leftovers(folder.path()), QStringList{"planning.jpg"});
}

void TestJpegWriter::replacingKeepsTimesAndMode()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("planning.jpg");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("an older picture");
    old.close();
    const timespec access{1000000000, 123456789};
    const timespec modification{1100000000, 987654321};
    setTimesAndMode(path, access, modification, 0604);

    PixelBuffer buffer;
    QVERIFY(buffer.createFromPicture(cornerPicture(40, 30)));
    QVERIFY(saveJpeg(buffer, path, 75));

    struct stat now {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &now), 0);
    QCOMPARE(now.st_mode & 07777, mode_t(0604));
    QCOMPARE(now.st_atim.tv_sec, access.tv_sec);
    QCOMPARE(now.st_atim.tv_nsec, access.tv_nsec);
    QCOMPARE(now.st_mtim.tv_sec, modification.tv_sec);
    QCOMPARE(now.st_mtim.tv_nsec, modification.tv_nsec);
    QCOMPARE(decode(path).width, 40);
    QCOMPARE(leftovers(folder.path()), QStringList{"planning.jpg"});
}

void TestJpegWriter::linkIsReplacedNotFollowed()
{
    QTemporaryDir folder;
    const QString target = folder.filePath("elsewhere.txt");
    QFile file(target);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();
    const QString path = folder.filePath("planning.jpg");
    QVERIFY(QFile::link(target, path));

    PixelBuffer buffer;
    QVERIFY(buffer.createFromPicture(cornerPicture(10, 10)));
    QVERIFY(saveJpeg(buffer, path, 90));

    QVERIFY(!QFileInfo(path).isSymLink());
    QCOMPARE(decode(path).width, 10);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("not a picture"));
}

void TestJpegWriter::failures_data()
{
    QTest::addColumn<QString>("where"); // folder of the file, relative to a fresh folder
    QTest::addColumn<bool>("oldFile");  // an older picture stands at the name
    QTest::addColumn<QSize>("size");    // the buffer; empty: no pixels
    QTest::addColumn<int>("quality");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("detail"); // a part of it

    QTest::newRow("folder missing") << "missing/deeper" << false << QSize(4, 4) << 90
                                    << "Failed to save to JPG 2"
                                    << "No such file or directory";
    QTest::newRow("no pixels") << "." << false << QSize() << 90 << "Failed to save to JPG -1"
                               << "no pixels";
    QTest::newRow("no pixels, older picture removed")
        << "." << true << QSize() << 90 << "Failed to save to JPG -1"
        << "no pixels";
    QTest::newRow("quality out of range, older picture removed")
        << "." << true << QSize(4, 4) << 101 << "Failed to save to JPG -1"
        << "Invalid argument";
}

void TestJpegWriter::failures()
{
    QFETCH(QString, where);
    QFETCH(bool, oldFile);
    QFETCH(QSize, size);
    QFETCH(int, quality);
    QFETCH(QString, description);
    QFETCH(QString, detail);

    QTemporaryDir root;
    const QString folder = QDir(root.path()).filePath(where);
    const QString path = QDir(folder).filePath("planning.jpg");
    if (oldFile) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("older");
    }
    PixelBuffer buffer;
    if (size.isValid())
        QVERIFY(buffer.create(size.width(), size.height()));
    try {
        saveJpeg(buffer, path, quality);
        QFAIL("the save should have failed");
    }
    catch (const JpegError& error) {
        QCOMPARE(error.number(), 26001);
        QCOMPARE(error.description(), description);
        QVERIFY2(error.detail().contains(detail), qPrintable(error.detail()));
        QVERIFY(error.source().endsWith(".mIntelJPEGLibrary"));
    }
    // A failed save leaves no picture, old or new, and no temporary file.
    QVERIFY(!QFileInfo::exists(path));
    if (QFileInfo(folder).isDir())
        QCOMPARE(leftovers(folder), QStringList());
}

void TestJpegWriter::unwritableFolder_data()
{
    QTest::addColumn<bool>("oldFile");
    QTest::newRow("older picture cannot be removed") << true;
    QTest::newRow("no file can be made") << false;
}

void TestJpegWriter::unwritableFolder()
{
    QFETCH(bool, oldFile);
    if (::geteuid() == 0)
        QSKIP("the superuser may write in any folder");
    QTemporaryDir folder;
    const QString path = folder.filePath("planning.jpg");
    QFile old(path);
    if (oldFile) {
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("older");
        old.close();
    }
    QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner));

    PixelBuffer buffer;
    QVERIFY(buffer.create(4, 4));
    QString description;
    try {
        saveJpeg(buffer, path, 90);
    }
    catch (const JpegError& error) {
        description = error.description();
    }
    QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(description, QString("Failed to save to JPG 13")); // EACCES
    if (oldFile) {
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("older"));
    }
    QCOMPARE(leftovers(folder.path()), oldFile ? QStringList{"planning.jpg"} : QStringList());
}

QTEST_GUILESS_MAIN(TestJpegWriter)
#include "tst_jpegwriter.moc"
