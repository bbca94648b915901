#include "output/planningpicture.h"

#include "output/gridpainter.h"
#include "output/jpegwriter.h"
#include "output/outputfile.h"
#include "planning/planninggrid.h"

#include <QBuffer>
#include <QImageWriter>

#include <algorithm>
#include <vector>

namespace {

constexpr int kQuality = 90;

// Whether a merged block goes on below `row`.
bool continuesBelow(const PlanningGrid& grid, int row)
{
    for (int column = 0; column < grid.columns();) {
        const PlanningGrid::Range block = grid.mergedRange(row, column);
        if (block.lastRow > row)
            return true;
        column = std::max(block.lastColumn, column) + 1;
    }
    return false;
}

// The pixel rows the strips end at, the last one the picture's height. A block is drawn whole only inside
// one strip (a header's label is centred in what is drawn of it), so a strip grows past `stripHeight` until
// a row ends that no block goes on below.
std::vector<int> stripEnds(const GridPainter& painter, int stripHeight)
{
    const PlanningGrid& grid = painter.grid();
    std::vector<int> ends;
    int top = 0;
    int y = 0;
    for (int row = 0; row < grid.rows(); ++row) {
        y += painter.rowHeight(row);
        if (y - top >= stripHeight && row + 1 < grid.rows() && !continuesBelow(grid, row)) {
            ends.push_back(y);
            top = y;
        }
    }
    if (ends.empty() || ends.back() < y)
        ends.push_back(y);
    return ends;
}

} // namespace

void savePlanningPicture(const GridPainter& painter, const QString& fileName, int stripHeight)
{
    const QSize size = painter.fullSize();
    const std::vector<int> ends = stripEnds(painter, std::max(1, stripHeight));
    QImage strip;
    const auto rows = [&](int top) {
        const auto end = std::upper_bound(ends.cbegin(), ends.cend(), top);
        if (end == ends.cend())
            return QImage();
        const int height = *end - top;
        painter.renderStrip(strip, top, height);
        if (strip.isNull())
            return QImage();
        // The strip's first rows, without a copy; the writer is done with them before the next strip.
        return QImage(strip.constBits(), strip.width(), height, strip.bytesPerLine(), QImage::Format_RGB32);
    };
    saveJpeg(size, rows, fileName, kQuality);
}

QLatin1StringView pictureFileName(PictureFormat format)
{
    return format == PictureFormat::Png ? QLatin1StringView("planning.png")
                                        : QLatin1StringView("planning.jpg");
}

void savePlanningPicture(const GridPainter& painter, const QString& fileName, PictureFormat format)
{
    if (format == PictureFormat::Jpeg)
        return savePlanningPicture(painter, fileName);
    const QImage image = painter.renderAll();
    const QString source = QStringLiteral("rotavine");
    const QString description = QStringLiteral("Failed to save to PNG");
    if (image.isNull())
        throw JpegError(source, description, QStringLiteral("the picture holds no pixels"));
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    QImageWriter writer(&bytes, "png");
    if (!writer.write(image))
        throw JpegError(source, description, writer.errorString());
    if (const auto failure = OutputFile::write(fileName, bytes.data()))
        throw JpegError(source, description, failure->reason);
}
