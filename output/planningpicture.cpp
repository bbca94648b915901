#include "output/planningpicture.h"

#include "output/gridpainter.h"
#include "output/jpegwriter.h"
#include "output/pixelbuffer.h"

void savePlanningPicture(const GridPainter& painter, const QString& fileName)
{
    constexpr int kQuality = 90;
    PixelBuffer buffer;
    // A picture too large for the buffer leaves it empty, which the writer refuses with its error.
    buffer.createFromPicture(painter.renderAll());
    saveJpeg(buffer, fileName, kQuality);
}
