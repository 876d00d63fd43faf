// Renders the program's SVG icon to a square PNG of the given size at build time, for the
// icon theme's fixed sizes: render-icon in.svg size out.png
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: render-icon in.svg size out.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const int size = std::atoi(argv[2]);
    const QIcon icon(QString::fromLocal8Bit(argv[1]));
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        icon.paint(&painter, QRect(0, 0, size, size));
    }
    if (size <= 0 || icon.isNull() || !image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "render-icon: cannot render %s at %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}
