#pragma once

#include <QLatin1StringView>
#include <QString>

class GridPainter;

// Saves the whole grid, drawn at full size by the painter the screen uses (so the picture is what is seen),
// as a JPEG file of quality 90. The grid is drawn and encoded in strips of about `stripHeight` pixels, cut
// where no merged block is cut, so that a large planning never needs its whole picture in memory. Throws
// JpegError when the file cannot be written.
void savePlanningPicture(const GridPainter& painter, const QString& fileName, int stripHeight = 256);

// JPEG for the web page (small); PNG where the colours must stay exact (lossless).
enum class PictureFormat { Jpeg, Png };

// The picture's name beside a report page: "planning.jpg" or "planning.png".
QLatin1StringView pictureFileName(PictureFormat format);

// The same in either format. A PNG is encoded from the whole picture, which QImageWriter needs at once: 4
// bytes a pixel (about 315 MB for 127 members over 187 days). Every failure throws JpegError, the picture
// writer's one failure, so that callers treat both formats alike.
void savePlanningPicture(const GridPainter& painter, const QString& fileName, PictureFormat format);
