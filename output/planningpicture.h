#pragma once

#include <QString>

class GridPainter;

// Saves the whole grid, drawn at full size by the painter the screen uses (so the picture is what is seen),
// as a JPEG file of quality 90. Throws JpegError when the file cannot be written.
void savePlanningPicture(const GridPainter& painter, const QString& fileName);
