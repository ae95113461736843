#include "measure/graph3d.h"

#include "measure/surfaceplot.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QOpenGLContext>

namespace
{
// The view requests multisampling, so the quads' edges are smooth.
QGLFormat viewFormat()
{
    return QGLFormat(QGL::SampleBuffers);
}
} // namespace

Graph3D::Graph3D(QWidget* parent)
    : QGLWidget(viewFormat(), parent), m_surface(new SurfacePlot(this))
{
}

Graph3D::~Graph3D() = default;

bool Graph3D::openGLAvailable(QString* why)
{
    const auto fail = [why](const QString& text) {
        if (why)
            *why = text;
        return false;
    };
    if (!QGLFormat::hasOpenGL())
        return fail(QStringLiteral("The display \"%1\" offers no OpenGL.")
                        .arg(QGuiApplication::platformName()));
    // The platform may claim OpenGL and still give no context (the offscreen
    // platform without GLX): try one with the view's own format.
    QOpenGLContext probe;
    probe.setFormat(QGLFormat::toSurfaceFormat(viewFormat()));
    if (!probe.create() || !probe.isValid())
        return fail(QStringLiteral("The display \"%1\" could not create an OpenGL context.")
                        .arg(QGuiApplication::platformName()));
    return true;
}

int Graph3D::normalizedAngle(int angle)
{
    // Whole turns are added or taken away until the angle lies in
    // 0 .. kFullTurn; a full turn itself is left as it is.
    if (angle < 0) {
        angle %= kFullTurn;
        if (angle < 0)
            angle += kFullTurn;
    } else if (angle > kFullTurn) {
        angle = (angle - 1) % kFullTurn + 1;
    }
    return angle;
}

void Graph3D::setData(const float* grid, int nx, int ny)
{
    m_surface->setData(grid, nx, ny);
}

QSize Graph3D::sizeHint() const
{
    return QSize(600, 400);
}

QSize Graph3D::minimumSizeHint() const
{
    return QSize(50, 50);
}

// Repaints only when the angle really changed.
void Graph3D::setAngle(int& angle, int value)
{
    value = normalizedAngle(value);
    if (value == angle)
        return;
    angle = value;
    updateGL();
}

void Graph3D::setAngleX(int angle)
{
    setAngle(m_angleX, angle);
}

void Graph3D::setAngleY(int angle)
{
    setAngle(m_angleY, angle);
}

void Graph3D::setAngleZ(int angle)
{
    setAngle(m_angleZ, angle);
}

void Graph3D::initializeGL()
{
    glShadeModel(GL_SMOOTH);
    glClearColor(1.0f, 1.0f, 1.0f, 0.5f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
}

void Graph3D::resizeGL(int width, int height)
{
    // A square viewport in the middle keeps the cube from being stretched.
    const int side = qMin(width, height);
    glViewport((width - side) / 2, (height - side) / 2, side, side);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-0.8, 0.8, -0.5, 1.0, 4.0, 15.0);
    glMatrixMode(GL_MODELVIEW);
}

void Graph3D::paintGL()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -10.0f);
    glRotatef(float(m_angleX) / 16.0f, 1.0f, 0.0f, 0.0f);
    glRotatef(float(m_angleY) / 16.0f, 0.0f, 1.0f, 0.0f);
    glRotatef(float(m_angleZ) / 16.0f, 0.0f, 0.0f, 1.0f);
    m_surface->draw();
    m_gridBox.draw();
}

void Graph3D::mousePressEvent(QMouseEvent* event)
{
    m_lastPos = event->pos();
}

void Graph3D::mouseMoveEvent(QMouseEvent* event)
{
    const int dx = event->x() - m_lastPos.x();
    const int dy = event->y() - m_lastPos.y();
    if (event->buttons() & Qt::LeftButton) {
        setAngleX(m_angleX + kAnglePerPixel * dy);
        setAngleY(m_angleY + kAnglePerPixel * dx);
    } else if (event->buttons() & Qt::RightButton) {
        setAngleX(m_angleX + kAnglePerPixel * dy);
        setAngleZ(m_angleZ + kAnglePerPixel * dx);
    }
    m_lastPos = event->pos();
}
