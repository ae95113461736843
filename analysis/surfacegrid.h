#pragma once

// The 3D rocking curve's grid and the surface built from it, without any
// widget or OpenGL: scan voltages, normalisation, quads and their colours.

#include <cstddef>
#include <vector>

namespace surfacegrid
{

// Steps per axis of the 3D rocking-curve scan (64 x 64 points).
constexpr int kSteps = 64;
constexpr int kPoints = kSteps * kSteps;

// Voltage of scan step `step` (0 .. kSteps - 1) on an axis starting at `min`
// and extending `span` volts; step 0 gives `min`, the last step `min + span`.
double stepVolts(double min, double span, int step);

// Writes (raw - minimum) / (maximum - minimum) of every element to `normalised`.
// A grid without range (all elements equal, or nothing finite) gives a flat
// surface of zeros instead of a division by zero; elements that are not
// finite (a picoammeter's NaN) take no part in the range and come out as 0.
void normalise(const float* raw, float* normalised, std::size_t count);

struct SurfaceColour {
    float red, green, blue;
};

// Blue below 0.001, then through cyan, green and yellow to red at 1 and
// above; a value that is not a number is drawn blue, like an empty one.
SurfaceColour surfaceColour(float v);

struct SurfaceVertex {
    float x, y, z;
};

// One filled quadrilateral of the surface, in one colour.
struct SurfaceQuad {
    SurfaceVertex vertex[4];
    SurfaceColour colour;
};

// The quads over a grid of `nx` columns and `ny` rows, value at column a and
// row b in d[a + b * nx]: (nx - 1) x (ny - 1) quads spanning the unit square
// in x (columns) and y (rows), heights from the grid, each coloured by its
// mean height relative to the grid's range. Grids with fewer than two
// columns or rows give no quads.
void buildSurface(const float* d, int nx, int ny, std::vector<SurfaceQuad>& quads);

} // namespace surfacegrid
