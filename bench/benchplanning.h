#pragma once

#include <QStringList>

class PlanningGrid;
class PlanningMatrix;

// A member-by-day planning as the member query leaves it: four header rows, a name column, two or three
// appointments in most day cells, coloured. The matrix, when given, gets the matching HTML texts and colours.
void fillBenchPlanning(PlanningGrid& grid, PlanningMatrix* matrix, int members, int days);

// The value of "--rounds N" among the arguments, at least 1; `fallback` without one.
int roundsArgument(const QStringList& arguments, int fallback);
