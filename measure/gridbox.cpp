#include "measure/gridbox.h"

#include <qopengl.h>

namespace
{
constexpr float kGrey = 0.3f;
constexpr float kAxisWidth = 1.5f;
constexpr float kGridWidth = 0.5f;
} // namespace

std::vector<GridBox::Line> GridBox::lines() const
{
    std::vector<Line> out;
    out.push_back({{0, 0, 0}, {1, 0, 0}, kAxisWidth});
    out.push_back({{0, 0, 0}, {0, 1, 0}, kAxisWidth});
    out.push_back({{0, 0, 0}, {0, 0, 1}, kAxisWidth});

    // Both ends of each axis get a line, so the grids close at the cube's
    // edges. An axis without divisions gets no grid lines.
    for (int k = 0; divisionsZ > 0 && k <= divisionsZ; ++k) {
        const float z = float(k) / float(divisionsZ);
        out.push_back({{0, 0, z}, {1, 0, z}, kGridWidth});
        out.push_back({{0, 0, z}, {0, 1, z}, kGridWidth});
    }
    for (int k = 0; divisionsX > 0 && k <= divisionsX; ++k) {
        const float x = float(k) / float(divisionsX);
        out.push_back({{x, 0, 0}, {x, 0, 1}, kGridWidth});
        out.push_back({{x, 0, 0}, {x, 1, 0}, kGridWidth});
    }
    for (int k = 0; divisionsY > 0 && k <= divisionsY; ++k) {
        const float y = float(k) / float(divisionsY);
        out.push_back({{0, y, 0}, {0, y, 1}, kGridWidth});
        out.push_back({{0, y, 0}, {1, y, 0}, kGridWidth});
    }
    return out;
}

void GridBox::draw() const
{
    glColor3f(kGrey, kGrey, kGrey);
    // Line width is a state outside glBegin/glEnd: one batch per width.
    float width = -1.0f;
    bool open = false;
    for (const Line& line : lines()) {
        if (line.width != width) {
            if (open)
                glEnd();
            width = line.width;
            glLineWidth(width);
            glBegin(GL_LINES);
            open = true;
        }
        glVertex3f(line.from.x, line.from.y, line.from.z);
        glVertex3f(line.to.x, line.to.y, line.to.z);
    }
    if (open)
        glEnd();
}
