#pragma once

#include "analysis/surfacegrid.h"

#include <QObject>

#include <vector>

// The coloured surface of the 3D view: one quad per cell of the grid it was
// last given, drawn as filled quadrilaterals in the current OpenGL context.
class SurfacePlot : public QObject
{
    Q_OBJECT

public:
    explicit SurfacePlot(QObject* parent = nullptr);

    // Rebuilds the quads from a grid of nx columns and ny rows (value at
    // column a, row b in grid[a + b * nx]).
    void setData(const float* grid, int nx, int ny);
    // Emits every quad in its colour; needs a current OpenGL context.
    void draw() const;

    const std::vector<surfacegrid::SurfaceQuad>& quads() const { return m_quads; }

private:
    std::vector<surfacegrid::SurfaceQuad> m_quads;
};
