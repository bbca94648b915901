// Measures the outputs of the biggest planning (127 members × 187 days): the grid drawn whole, copied into
// the pixel buffer and written as a JPEG (beside the same buffer encoded with 4:2:0 colour for comparison),
// the picture written in strips as the program writes it, against drawn whole, with each way's peak
// resident memory measured in a process of its own, and the detailed HTML report.
//
//   bench-output [--rounds N]
//   bench-output --picture whole|strips    (one way of writing the picture, for the peak memory)

#include "base/languagetexts.h"
#include "base/programpaths.h"
#include "bench/benchplanning.h"
#include "output/gridpainter.h"
#include "output/htmlreport.h"
#include "output/jpegwriter.h"
#include "output/pagedplanning.h"
#include "output/pixelbuffer.h"
#include "output/planningpicture.h"
#include "planning/colourrules.h"
#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <tuple>
#include <vector>

namespace {

constexpr int kMembers = 127;
constexpr int kDays = 187;

// The best of `rounds` runs, in milliseconds.
double best(int rounds, const std::function<void()>& run)
{
    double fastest = 1e300;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        run();
        fastest = std::min(fastest, timer.nsecsElapsed() / 1e6);
    }
    return fastest;
}

struct Encoding {
    unsigned long size = 0;
    double meanError = 0;   // mean absolute difference per channel, 0 to 255
    double fringeShare = 0; // share of pixels with a channel off by more than 32: a visible fringe
};

// The buffer encoded with the given chroma subsampling, decoded again and compared with itself.
Encoding encode(const PixelBuffer& buffer, int subsampling, bool compare)
{
    Encoding result;
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    tjCompress2(handle, buffer.bits(), buffer.width(), buffer.bytesPerScanLine(), buffer.height(), TJPF_BGR,
                &jpeg, &result.size, subsampling, 90, TJFLAG_BOTTOMUP);
    tjDestroy(handle);
    if (compare) {
        const int pitch = buffer.bytesPerScanLine();
        std::vector<unsigned char> decoded(size_t(pitch) * size_t(buffer.height()));
        tjhandle decoder = tjInitDecompress();
        tjDecompress2(decoder, jpeg, result.size, decoded.data(), buffer.width(), pitch, buffer.height(),
                      TJPF_BGR, TJFLAG_BOTTOMUP);
        tjDestroy(decoder);
        double total = 0;
        qint64 fringes = 0;
        for (int row = 0; row < buffer.height(); ++row) {
            const unsigned char* a = buffer.bits() + qsizetype(row) * pitch;
            const unsigned char* b = decoded.data() + qsizetype(row) * pitch;
            for (int x = 0; x < 3 * buffer.width(); x += 3) {
                int worst = 0;
                for (int channel = 0; channel < 3; ++channel) {
                    const int difference = std::abs(int(a[x + channel]) - int(b[x + channel]));
                    total += difference;
                    worst = std::max(worst, difference);
                }
                fringes += worst > 32;
            }
        }
        const double pixels = double(buffer.width()) * buffer.height();
        result.meanError = total / (3 * pixels);
        result.fringeShare = fringes / pixels;
    }
    tjFree(jpeg);
    return result;
}

// VmHWM, the process's peak resident memory so far, in MiB.
double peakMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

// Writes the picture one way (or the PNG, or the PDF of A4 pages fitted to the width), once, and prints the
// time and the peak memory before and after.
int writePictureOnce(const PlanningGrid& grid, const QString& way)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(way == QLatin1String("pdf")   ? QStringLiteral("planning.pdf")
                                         : way == QLatin1String("png") ? QStringLiteral("planning.png")
                                                                       : QStringLiteral("planning.jpg"));
    const GridPainter painter(grid);
    const double before = peakMiB();
    QElapsedTimer timer;
    timer.start();
    if (way == QLatin1String("whole")) {
        PixelBuffer buffer;
        buffer.createFromPicture(painter.renderAll());
        saveJpeg(buffer, path, 90);
    }
    else if (way == QLatin1String("png")) {
        savePlanningPicture(painter, path, PictureFormat::Png);
    }
    else if (way == QLatin1String("pdf")) {
        PagedPlanning::Texts texts;
        texts.team = QStringLiteral("Everyone");
        texts.period = QStringLiteral("From 1 Jul 2026 to 3 Jan 2027");
        PagedPlanning::savePdf(path, painter, PagedPlanning::Layout(), texts);
    }
    else {
        savePlanningPicture(painter, path);
    }
    const double milliseconds = timer.nsecsElapsed() / 1e6;
    std::printf("%-44s %9.1f ms  %8.2f MB  peak %6.0f MiB (%.0f MiB before)\n",
                way == QLatin1String("whole") ? "picture drawn whole, 24-bit buffer, TurboJPEG"
                : way == QLatin1String("png") ? "PNG, drawn whole (QImageWriter)"
                : way == QLatin1String("pdf") ? "PDF, A4 landscape, fit to width"
                                              : "picture drawn and encoded in strips",
                milliseconds, QFileInfo(path).size() / 1e6, peakMiB(), before);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const int rounds = roundsArgument(arguments, 3);

    PlanningGrid grid;
    PlanningMatrix matrix;
    fillBenchPlanning(grid, &matrix, kMembers, kDays);
    if (const qsizetype way = arguments.indexOf(QStringLiteral("--picture")); way >= 0)
        return writePictureOnce(grid, arguments.value(way + 1));
    QTemporaryDir folder;
    const QString picturePath = folder.filePath(QStringLiteral("planning.jpg"));

    QImage picture;
    const double render = best(rounds, [&] { picture = GridPainter(grid).renderAll(); });
    PixelBuffer buffer;
    const double copy = best(rounds, [&] { buffer.createFromPicture(picture); });
    const double save = best(rounds, [&] { saveJpeg(buffer, picturePath, 90); });
    const double encode420 = best(rounds, [&] { encode(buffer, TJSAMP_420, false); });
    const double encode444 = best(rounds, [&] { encode(buffer, TJSAMP_444, false); });
    const Encoding with420 = encode(buffer, TJSAMP_420, true);
    const Encoding with444 = encode(buffer, TJSAMP_444, true);

    ColourRules rules([](const QString&) {});
    const LanguageTexts texts =
        LanguageTexts::load(ProgramPaths::languageFolder(), QStringLiteral("English"));
    const HtmlReportInput input{.matrix = matrix,
                                .grid = grid,
                                .rules = rules,
                                .useFilters = true,
                                .texts = texts,
                                .teamText = QStringLiteral("Everyone"),
                                .firstDay = QDateTime(QDate(2026, 7, 1), QTime(0, 0)),
                                .lastDay = QDateTime(QDate(2027, 1, 3), QTime(0, 0)),
                                .statusText = QStringLiteral("Last refresh: now"),
                                .heightCol = 60,
                                .templateFolder = HtmlReport::templateFolder(),
                                .tempFolder = folder.path(),
                                .pictureName = {},
                                .locale = QLocale::c()};
    QString page;
    const double report = best(rounds, [&] { page = writeHtmlReport(input, false, true); });

    std::printf("planning: %d members x %d days; picture %d x %d pixels (%.0f MB as 24-bit rows)\n", kMembers,
                kDays, picture.width(), picture.height(),
                double(buffer.bytesPerScanLine()) * buffer.height() / 1e6);
    std::printf("%-44s %9.1f ms\n", "grid drawn whole into an image", render);
    std::printf("%-44s %9.1f ms\n", "image copied into the pixel buffer", copy);
    std::printf("%-44s %9.1f ms  %8.2f MB\n", "SaveJpeg, quality 90, 4:4:4 (the writer's)", save,
                QFileInfo(picturePath).size() / 1e6);
    for (const auto& [label, milliseconds, encoding] : {std::tuple("encode only, 4:4:4", encode444, with444),
                                                        std::tuple("encode only, 4:2:0", encode420, with420)})
        std::printf("%-44s %9.1f ms  %8.2f MB  mean error %.2f, pixels off by > 32: %.2f %%\n", label,
                    milliseconds, encoding.size / 1e6, encoding.meanError, 100 * encoding.fringeShare);
    std::printf("%-44s %9.1f ms  %8.2f MB\n", "detailed HTML report", report, QFileInfo(page).size() / 1e6);
    std::printf("(best of %d rounds)\n", rounds);

    // Each way in a fresh process, so that one's peak is not the other's.
    picture = QImage();
    buffer.clear();
    std::fflush(stdout);
    for (const QString& way :
         {QStringLiteral("whole"), QStringLiteral("strips"), QStringLiteral("png"), QStringLiteral("pdf")}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--picture"), way});
        child.waitForFinished(-1);
    }
    return 0;
}
