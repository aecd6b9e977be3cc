// pixmoor-icons: renders an SVG icon to square PNG files, for the icon theme of an installation.
// Usage: pixmoor-icons IN.svg OUT.png SIZE [OUT.png SIZE ...]
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 4 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: pixmoor-icons IN.svg OUT.png SIZE [OUT.png SIZE ...]\n");
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "pixmoor-icons: cannot read %s\n", argv[1]);
        return 1;
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i + 1]).toInt(&ok);
        if (!ok || size < 1 || size > 4096) {
            std::fprintf(stderr, "pixmoor-icons: bad size %s\n", argv[i + 1]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            svg.render(&painter);
        }
        if (!image.save(QString::fromLocal8Bit(argv[i]), "PNG")) {
            std::fprintf(stderr, "pixmoor-icons: cannot write %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
