#include "analysis/surfacegrid.h"

#include <algorithm>
#include <cmath>

namespace surfacegrid
{

double stepVolts(double min, double span, int step)
{
    return min + (double(step) / double(kSteps - 1)) * span;
}

void normalise(const float* raw, float* normalised, std::size_t count)
{
    bool any = false;
    float lo = 0.0f;
    float hi = 0.0f;
    for (std::size_t k = 0; k < count; ++k) {
        const float v = raw[k];
        if (!std::isfinite(v))
            continue;
        if (!any) {
            lo = hi = v;
            any = true;
        } else {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    const float range = hi - lo;
    // Equal elements (a fresh grid, a beam that never came) have no range to
    // scale by: the surface lies flat at 0.
    if (!any || !(range > 0.0f) || !std::isfinite(range)) {
        std::fill(normalised, normalised + count, 0.0f);
        return;
    }
    for (std::size_t k = 0; k < count; ++k)
        normalised[k] = std::isfinite(raw[k]) ? (raw[k] - lo) / range : 0.0f;
}

SurfaceColour surfaceColour(float v)
{
    if (!(v >= 0.001f))
        return {0.0f, 0.0f, 1.0f};
    if (v < 0.25f)
        return {0.0f, 4.0f * v, 1.0f};
    if (v < 0.5f)
        return {0.0f, 1.0f, 1.0f - 4.0f * (v - 0.25f)};
    if (v < 0.75f)
        return {4.0f * (v - 0.5f), 1.0f, 0.0f};
    if (v < 1.0f)
        return {1.0f, 1.0f - 4.0f * (v - 0.75f), 0.0f};
    return {1.0f, 0.0f, 0.0f};
}

void buildSurface(const float* d, int nx, int ny, std::vector<SurfaceQuad>& quads)
{
    quads.clear();
    if (!d || nx < 2 || ny < 2)
        return;
    const float dx = 1.0f / float(nx - 1);
    const float dy = 1.0f / float(ny - 1);

    // The colour scale starts from [0, 0.0001] so that a zero grid divides
    // by a small number, not by zero.
    float m0 = 0.0f;
    float m1 = 0.0001f;
    const std::size_t count = std::size_t(nx) * std::size_t(ny);
    for (std::size_t k = 0; k < count; ++k) {
        m0 = std::min(m0, d[k]);
        m1 = std::max(m1, d[k]);
    }
    const float scale = m1 - m0;

    quads.reserve(std::size_t(nx - 1) * std::size_t(ny - 1));
    for (int a = 0; a < nx - 1; ++a) {
        for (int b = 0; b < ny - 1; ++b) {
            const float d00 = d[a + b * nx];
            const float d10 = d[a + 1 + b * nx];
            const float d11 = d[a + 1 + (b + 1) * nx];
            const float d01 = d[a + (b + 1) * nx];
            const float x0 = float(a) * dx, x1 = float(a + 1) * dx;
            const float y0 = float(b) * dy, y1 = float(b + 1) * dy;
            SurfaceQuad q;
            q.vertex[0] = {x0, y0, d00};
            q.vertex[1] = {x1, y0, d10};
            q.vertex[2] = {x1, y1, d11};
            q.vertex[3] = {x0, y1, d01};
            q.colour = surfaceColour((d00 + d10 + d11 + d01) / 4.0f / scale);
            quads.push_back(q);
        }
    }
}

} // namespace surfacegrid
