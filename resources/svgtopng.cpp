// Build-time helper: renders one of our SVG drawings into a PNG of the
// drawing's own size, for the windows that load their pictures as PNG.
//
//   zevo-svgtopng DRAWING.svg PICTURE.png
//
// Exits non-zero when the drawing does not parse or the picture cannot be
// written, so a broken drawing fails the build instead of shipping blank.

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DRAWING.svg PICTURE.png\n", argv[0]);
        return 2;
    }
    // Text in the drawings needs the font database, which needs a GUI
    // application; the build has no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);

    const QString drawing = QString::fromLocal8Bit(argv[1]);
    const QString picture = QString::fromLocal8Bit(argv[2]);
    QSvgRenderer renderer(drawing);
    if (!renderer.isValid() || renderer.defaultSize().isEmpty()) {
        std::fprintf(stderr, "zevo-svgtopng: cannot read %s\n", argv[1]);
        return 1;
    }

    QImage image(renderer.defaultSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    renderer.render(&painter);
    painter.end();

    QDir().mkpath(QFileInfo(picture).absolutePath());
    if (!image.save(picture, "PNG")) {
        std::fprintf(stderr, "zevo-svgtopng: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
