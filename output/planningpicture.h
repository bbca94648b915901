#pragma once

#include <QString>

class GridPainter;

// Saves the whole grid, drawn at full size by the painter the screen uses (so the picture is what is seen),
// as a JPEG file of quality 90. The grid is drawn and encoded in strips of about `stripHeight` pixels, cut
// where no merged block is cut, so that a large planning never needs its whole picture in memory. Throws
// JpegError when the file cannot be written.
void savePlanningPicture(const GridPainter& painter, const QString& fileName, int stripHeight = 256);
