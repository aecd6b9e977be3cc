// pixmoor-render FILE OUT.png [--size WxH]: draws a picture (metafile, icon or bitmap) the way
// the picture control draws it and writes the result as PNG. Needs no display.
#include "imaging/picture.h"
#include "imaging/wmf/metafile.h"

#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QRegularExpression>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int usage() {
    std::fputs("usage: pixmoor-render FILE OUT.png [--size WxH]\n", stderr);
    return 1;
}

int fail(const QString& text) {
    std::fprintf(stderr, "pixmoor-render: %s\n", text.toLocal8Bit().constData());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    // Fonts need a GUI application; the offscreen platform needs no display.
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QString input, output;
    QSize size;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--size") == 0) {
            if (i + 1 >= argc) return usage();
            static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})[xX](\\d{1,5})$"));
            const auto match = pattern.match(QString::fromLocal8Bit(argv[++i]));
            if (!match.hasMatch() || match.captured(1).toInt() <= 0 ||
                match.captured(2).toInt() <= 0 || match.captured(1).toInt() > 20000 ||
                match.captured(2).toInt() > 20000)
                return fail(QStringLiteral("invalid size \"%1\" (expected WxH, 1 to 20000)")
                                .arg(QString::fromLocal8Bit(argv[i])));
            size = QSize(match.captured(1).toInt(), match.captured(2).toInt());
        } else if (input.isEmpty()) {
            input = QString::fromLocal8Bit(argv[i]);
        } else if (output.isEmpty()) {
            output = QString::fromLocal8Bit(argv[i]);
        } else {
            return usage();
        }
    }
    if (input.isEmpty() || output.isEmpty()) return usage();

    int qtArgc = 1;
    char name[] = "pixmoor-render";
    char* qtArgv[] = {name, nullptr};
    QGuiApplication app(qtArgc, qtArgv);

    pixmoor::Picture picture;
    try {
        picture.loadFromFile(input);
    } catch (const std::exception& e) {
        return fail(QString::fromStdString(e.what()));
    }
    if (size.isEmpty()) size = QSize(picture.width(), picture.height());
    if (size.isEmpty()) return fail(QStringLiteral("%1 holds an empty picture").arg(input));

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return fail(QStringLiteral("not enough memory for a %1 x %2 image")
                        .arg(size.width())
                        .arg(size.height()));
    // A metafile on white, as the picture control shows it; icons keep their transparency.
    image.fill(picture.hasOwnTransparency() ? Qt::transparent : Qt::white);
    {
        QPainter painter(&image);
        picture.draw(painter, QRect(QPoint(0, 0), size), true);
    }
    QImageWriter writer(output, "png");
    if (!writer.write(image))
        return fail(QStringLiteral("cannot write %1: %2").arg(output, writer.errorString()));
    return 0;
}
