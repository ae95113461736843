#include "measure/surfaceplot.h"

#include <qopengl.h>

SurfacePlot::SurfacePlot(QObject* parent) : QObject(parent)
{
    // Room for the 63 x 63 quads of the scan grid, so that rebuilding after
    // every scan point does not allocate.
    m_quads.reserve(std::size_t(surfacegrid::kSteps - 1) * std::size_t(surfacegrid::kSteps - 1));
}

void SurfacePlot::setData(const float* grid, int nx, int ny)
{
    surfacegrid::buildSurface(grid, nx, ny, m_quads);
}

void SurfacePlot::draw() const
{
    glBegin(GL_QUADS);
    for (const surfacegrid::SurfaceQuad& q : m_quads) {
        glColor4f(q.colour.red, q.colour.green, q.colour.blue, 1.0f);
        for (const surfacegrid::SurfaceVertex& v : q.vertex)
            glVertex3f(v.x, v.y, v.z);
    }
    glEnd();
}
