#pragma once

#include <QString>

class PlanningGrid;

// Saves the whole grid, drawn at full size as on screen, as a JPEG file of quality 90. Throws JpegError when
// the file cannot be written.
void savePlanningPicture(const PlanningGrid& grid, const QString& fileName);
