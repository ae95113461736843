#pragma once

#include "analysis/surfacegrid.h"

#include <vector>

// The frame the surface stands in: the three axes from the origin, and a
// grid on each of the three back planes x = 0, y = 0 and z = 0 of the unit
// cube, drawn in grey.
class GridBox
{
public:
    struct Line {
        surfacegrid::SurfaceVertex from, to;
        float width; // pixels
    };

    // Divisions of the grid along X, Y and Z.
    int divisionsX = 5;
    int divisionsY = 5;
    int divisionsZ = 5;

    // The axes first (1.5 pixels), then the grid lines (0.5 pixels).
    std::vector<Line> lines() const;
    // Draws lines() in the current OpenGL context.
    void draw() const;
};
