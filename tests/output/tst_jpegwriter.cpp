#include "output/gridpainter.h"
#include "output/jpegwriter.h"
#include "output/pixelbuffer.h"
#include "output/planningpicture.h"
#include "planning/planninggrid.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <turbojpeg.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// The chroma subsampling libjpeg-turbo reads in the file's header; -1 when it is no JPEG.
int subsamplingOf(const QString& path)
{
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = -1, colourspace = 0;
    tjDecompressHeader3(handle, reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size(),
                        &width, &height, &subsampling, &colourspace);
    tjDestroy(handle);
    return subsampling;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class TestJpegWriter : public QObject {
    Q_OBJECT

private slots:
    void createRefused_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("zero width") << QSize(0, 10);
        QTest::newRow("wider than a JPEG") << QSize(PixelBuffer::kMaxSide + 1, 1);
        QTest::newRow("too many bytes") << QSize(60000, 60000);
        QTest::newRow("int overflow") << QSize(2147483647, 2147483647);
    }
    void createRefused()
    {
        QFETCH(QSize, size);
        PixelBuffer buffer;
        QVERIFY(buffer.create(4, 4));
        QVERIFY(!buffer.create(size.width(), size.height()));
        // The earlier picture is gone too.
        QCOMPARE(buffer.bits(), nullptr);
        QCOMPARE(QSize(buffer.width(), buffer.height()), QSize(0, 0));
    }

    void pictureLayout_data()
    {
        QTest::addColumn<QImage::Format>("format");
        QTest::newRow("RGB32") << QImage::Format_RGB32;
        QTest::newRow("ARGB32") << QImage::Format_ARGB32;
        QTest::newRow("RGB888") << QImage::Format_RGB888;
        QTest::newRow("RGB16") << QImage::Format_RGB16;
    }
    void pictureLayout()
    {
        QFETCH(QImage::Format, format);
        // Two rows of three pixels; colours RGB565 keeps exactly.
        QImage picture(3, 2, QImage::Format_RGB32);
        const QRgb colours[6] = {qRgb(255, 0, 0),     qRgb(0, 255, 0), qRgb(0, 0, 255),
                                 qRgb(255, 255, 255), qRgb(0, 0, 0),   qRgb(255, 0, 255)};
        for (int i = 0; i < 6; ++i)
            picture.setPixel(i % 3, i / 3, colours[i]);
        // A buffer used before: the new picture starts from clean memory.
        PixelBuffer buffer;
        QVERIFY(buffer.create(7, 5));
        std::memset(buffer.bits(), 0xAB, size_t(buffer.bytesPerScanLine()) * 5);
        QVERIFY(buffer.createFromPicture(picture.convertToFormat(format)));
        QCOMPARE(QSize(buffer.width(), buffer.height()), QSize(3, 2));
        // Bottom row first, blue-green-red, three padding bytes of zero after each row.
        QCOMPARE(buffer.bytesPerScanLine(), 12);
        const QList<int> expected = {255, 255, 255, 0, 0,   0, 255, 0, 255, 0, 0, 0,
                                     0,   0,   255, 0, 255, 0, 255, 0, 0,   0, 0, 0};
        QCOMPARE(QList<int>(buffer.bits(), buffer.bits() + 24), expected);
    }

    void blockCopyClips_data()
    {
        QTest::addColumn<QRect>("area");   // x, y, width, height given to the copy
        QTest::addColumn<QPoint>("probe"); // a buffer pixel
        QTest::addColumn<QRgb>("expected");
        // The source's pixel (x, y) has red x * 10 and green y * 10; the buffer is 6 × 4, the source 8 × 5.
        QTest::newRow("offset source, last pixel") << QRect(2, 1, -1, -1) << QPoint(5, 3) << qRgb(70, 40, 0);
        QTest::newRow("past the source stays black") << QRect(4, 0, -1, -1) << QPoint(5, 0) << qRgb(0, 0, 0);
        QTest::newRow("area wider than the buffer") << QRect(0, 0, 8, 5) << QPoint(0, 2) << qRgb(0, 20, 0);
        QTest::newRow("negative origin, copied") << QRect(-2, -1, -1, -1) << QPoint(3, 2) << qRgb(10, 10, 0);
        QTest::newRow("negative origin, left out") << QRect(-2, -1, -1, -1) << QPoint(1, 1) << qRgb(0, 0, 0);
        QTest::newRow("outside entirely") << QRect(100, 100, -1, -1) << QPoint(0, 0) << qRgb(0, 0, 0);
    }
    void blockCopyClips()
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

    // The whole grid as the planning picture: drawn by the screen's painter, decoded by libjpeg-turbo.
    void planningPicture()
    {
        PlanningGrid grid;
        grid.setRows(7);
        grid.setColumns(9);
        grid.setFixedRows(2);
        grid.setFixedColumns(1);
        grid.setColumnWidth(0, 1215); // 81 pixels: an odd width, rows padded
        grid.setColumnWidth(8, 0);    // a hidden column takes no room in the picture either
        grid.setTopRow(4);            // scrolled on screen; the picture shows every row
        grid.setText(2, 0, "Anna Kowalska");
        grid.setBackColour(2, 1, 0x0000ff); // red, in the first data cell
        grid.setBackColour(6, 7, 0xff0000); // blue, in the last one
        QTemporaryDir folder;
        const QString path = folder.filePath("planning.jpg");
        const GridPainter painter(grid);
        savePlanningPicture(painter, path);

        // Decoded by Qt's JPEG reader, which is libjpeg-turbo here too.
        const QImage picture(path, "JPEG");
        QCOMPARE(picture.size(), painter.fullSize());
        QCOMPARE(picture.width() % 4, 1);
        // Full colour resolution: thin coloured lines keep their colour.
        QCOMPARE(subsamplingOf(path), int(TJSAMP_444));
        // Each cell where the grid shows it (upright, not mirrored), its colour within a few steps.
        const QList<std::tuple<int, int, QColor>> cells = {
            {1, 2, Qt::red}, {7, 6, Qt::blue}, {7, 2, Qt::white}, {1, 6, Qt::white}};
        for (const auto& [column, row, colour] : cells) {
            const QColor pixel = picture.pixelColor(painter.columnX(column) + 5, painter.rowY(row) + 5);
            QVERIFY2(std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green()) +
                             std::abs(pixel.blue() - colour.blue()) <
                         30,
                     qPrintable(pixel.name()));
        }
        QCOMPARE(entries(folder.path()), QStringList{"planning.jpg"});
    }

    // A picture that stands at the name hands on its times and permission bits; a link is replaced itself.
    void replacing()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath("planning.jpg");
        writeFile(path, "an older picture");
        const timespec times[2] = {{1000000000, 123456789}, {1100000000, 987654321}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0604), 0);
        PixelBuffer buffer;
        QVERIFY(buffer.create(40, 30));
        QVERIFY(saveJpeg(buffer, path, 75));
        struct stat now {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &now), 0);
        QCOMPARE(now.st_mode & 07777, mode_t(0604));
        QCOMPARE(
            (QList<qint64>{now.st_atim.tv_sec, now.st_atim.tv_nsec, now.st_mtim.tv_sec, now.st_mtim.tv_nsec}),
            (QList<qint64>{1000000000, 123456789, 1100000000, 987654321}));
        QCOMPARE(QImage(path, "JPEG").width(), 40);

        const QString target = folder.filePath("elsewhere.txt");
        writeFile(target, "not a picture");
        QVERIFY(QFile::remove(path) && QFile::link(target, path));
        QVERIFY(saveJpeg(buffer, path, 90));
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(QImage(path, "JPEG").width(), 40);
        QCOMPARE(readFile(target), QByteArray("not a picture"));
        QCOMPARE(entries(folder.path()), (QStringList{"elsewhere.txt", "planning.jpg"}));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("where"); // folder of the file, relative to a fresh folder
        QTest::addColumn<QSize>("size");    // the buffer; empty: no pixels
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("quality");
        QTest::addColumn<QString>("detail"); // a part of it
        QTest::addColumn<bool>("strips");    // drawn in strips rather than read from a buffer
        for (const bool strips : {false, true}) {
            const char* way = strips ? ", strips" : "";
            QTest::addRow("folder missing%s", way)
                << "missing/deeper" << QSize(4, 4) << "Failed to save to JPG 2" << 90
                << "No such file or directory" << strips;
            QTest::addRow("no pixels%s", way)
                << "." << QSize() << "Failed to save to JPG -1" << 90 << "no pixels" << strips;
            QTest::addRow("quality out of range%s", way)
                << "." << QSize(4, 4) << "Failed to save to JPG -1" << 101 << "Invalid argument" << strips;
        }
    }
    void failures()
    {
        QFETCH(QString, where);
        QFETCH(QSize, size);
        QFETCH(QString, description);
        QFETCH(int, quality);
        QFETCH(QString, detail);
        QFETCH(bool, strips);
        QTemporaryDir root;
        const QString folder = QDir(root.path()).filePath(where);
        const QString path = QDir(folder).filePath("planning.jpg");
        if (QFileInfo(folder).isDir())
            writeFile(path, "an older picture");
        PixelBuffer buffer;
        if (size.isValid())
            QVERIFY(buffer.create(size.width(), size.height()));
        const auto rows = [&](int) { return QImage(buffer.width(), 8, QImage::Format_RGB32); };
        try {
            strips ? saveJpeg(size, rows, path, quality) : saveJpeg(buffer, path, quality);
            QFAIL("the save should have failed");
        }
        catch (const JpegError& error) {
            QCOMPARE(error.number(), 26001);
            QCOMPARE(error.description(), description);
            QVERIFY2(error.detail().contains(detail), qPrintable(error.detail()));
            QVERIFY(error.source().endsWith(".mIntelJPEGLibrary"));
        }
        // A failed save leaves no picture, old or new, and no temporary file.
        QCOMPARE(entries(folder), QStringList());
    }
};

QTEST_MAIN(TestJpegWriter)
#include "tst_jpegwriter.moc"
