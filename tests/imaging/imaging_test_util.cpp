// Helpers of the image component tests.
#include "tests/imaging/imaging_test_util.h"

#include "tests/support/test_dirs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace pixmoor::test {

MessageLog::MessageLog(MessageButton answer) : answer_(answer) {
    setMessageHandler([this](const MessageRequest& r) {
        boxes_.push_back({r.kind, r.text, r.buttons, r.detail});
        return answer_;
    });
}

MessageLog::~MessageLog() {
    setMessageHandler({});
}

void magick(const std::string& arguments) {
    ASSERT_EQ(run("convert " + arguments), 0) << "convert " << arguments;
}

void python(const std::string& code) {
    TempDir dir;
    const std::string script = dir.file("script.py");
    std::ofstream(script) << code;
    ASSERT_EQ(run("/usr/bin/python3 " + script), 0) << code;
}

namespace {
void put16(QByteArray& a, int v) {
    a.append(char(v & 0xff));
    a.append(char((v >> 8) & 0xff));
}
void put32(QByteArray& a, unsigned v) {
    put16(a, int(v & 0xffff));
    put16(a, int(v >> 16));
}
} // namespace

QByteArray writeSimpleWmf(const std::string& path, int width, int height, int r, int g, int b) {
    QByteArray records;
    auto record = [&](int function, std::initializer_list<int> params) {
        put32(records, unsigned(3 + params.size()));
        put16(records, function);
        for (int p : params) put16(records, p);
    };
    record(0x020B, {0, 0});          // SetWindowOrg
    record(0x020C, {height, width}); // SetWindowExt
    // CreateBrushIndirect: style solid, colour, hatch
    record(0x02FC, {0, (g << 8) | r, b, 0});
    record(0x012D, {0});                   // SelectObject 0
    record(0x0418, {height, width, 0, 0}); // Rectangle(bottom, right, top, left)
    record(0x0000, {});                    // end of file

    QByteArray header;
    put16(header, 1); // memory metafile
    put16(header, 9); // header size in words
    put16(header, 0x0300);
    put32(header, unsigned(9 + records.size() / 2)); // size in words
    put16(header, 1);                                // objects
    put32(header, 7);                                // largest record in words
    put16(header, 0);

    QByteArray placeable;
    put32(placeable, 0x9AC6CDD7u);
    put16(placeable, 0);
    put16(placeable, 0);
    put16(placeable, 0);
    put16(placeable, width);
    put16(placeable, height);
    put16(placeable, 96);
    put32(placeable, 0);
    int checksum = 0;
    for (int i = 0; i < 10; ++i)
        checksum ^= (uchar(placeable[2 * i]) | (uchar(placeable[2 * i + 1]) << 8));
    put16(placeable, checksum);

    const QByteArray all = placeable + header + records;
    QFile f(QString::fromStdString(path));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(all);
    return all;
}

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

int countColour(const QImage& image, QRgb colour, int tolerance, QRect rect) {
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    if (rect.isNull()) rect = img.rect();
    rect &= img.rect();
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QRgb p = img.pixel(x, y);
            if (std::abs(qRed(p) - qRed(colour)) <= tolerance &&
                std::abs(qGreen(p) - qGreen(colour)) <= tolerance &&
                std::abs(qBlue(p) - qBlue(colour)) <= tolerance)
                ++n;
        }
    return n;
}

QByteArray clipboardAs(const char* type) {
    QProcess process;
    process.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-t", type, "-o"});
    if (!process.waitForStarted(5000)) return {};
    QElapsedTimer timer;
    timer.start();
    while (process.state() != QProcess::NotRunning && timer.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        process.waitForFinished(10);
    }
    return process.readAllStandardOutput();
}

} // namespace pixmoor::test
