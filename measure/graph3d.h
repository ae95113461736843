#pragma once

#include "measure/gridbox.h"

#include <QGLWidget>
#include <QPoint>

class SurfacePlot;

// The rotatable OpenGL view of the 3D rocking curve: the surface inside its
// grid box, seen through an orthographic projection. Dragging with the left
// button turns it about the x and y axes, with the right button about x and
// z; one pixel turns it by half a degree. Angles are in sixteenths of a
// degree, 0 to 5760.
//
// Only create it where openGLAvailable() says so: a QGLWidget without an
// OpenGL context (the offscreen platform without GLX) crashes.
class Graph3D : public QGLWidget
{
    Q_OBJECT

public:
    static constexpr int kFullTurn = 16 * 360;
    // Sixteenths of a degree per pixel of mouse movement.
    static constexpr int kAnglePerPixel = 8;

    explicit Graph3D(QWidget* parent = nullptr);
    ~Graph3D() override;

    // Whether this display can give the view an OpenGL context; if not,
    // `why` says what is missing, in words for the operator.
    static bool openGLAvailable(QString* why = nullptr);
    // Brings an angle into 0 .. kFullTurn by whole turns (kFullTurn stays).
    static int normalizedAngle(int angle);

    // Hands the grid to the surface; repaint with updateGL().
    void setData(const float* grid, int nx, int ny);

    int angleX() const { return m_angleX; }
    int angleY() const { return m_angleY; }
    int angleZ() const { return m_angleZ; }
    const SurfacePlot& surface() const { return *m_surface; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    void setAngleX(int angle);
    void setAngleY(int angle);
    void setAngleZ(int angle);

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void setAngle(int& angle, int value);

    int m_angleX = 4690; // 293.125 degrees
    int m_angleY = 21;   // 1.3125 degrees
    int m_angleZ = 3744; // 234 degrees
    QPoint m_lastPos;
    SurfacePlot* m_surface;
    GridBox m_gridBox;
};
