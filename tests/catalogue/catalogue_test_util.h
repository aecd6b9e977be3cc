// Helpers of the catalogue and viewer tests: image files made by ImageMagick and Pillow in a
// temporary directory, and a working directory that is put back afterwards.
#pragma once

#include "tests/support/test_dirs.h"

#include <QDir>
#include <QImage>
#include <QString>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace pixmoor::test {

inline QString qpath(const std::string& s) {
    return QString::fromStdString(s);
}

// Quotes a path for the shell.
inline std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// Makes an image file with ImageMagick: convert <args> <path>.
inline void magick(const std::string& args, const std::string& path) {
    ASSERT_EQ(run("convert " + args + " " + shellQuote(path) + " 2>/dev/null"), 0)
        << "convert " << args << " " << path;
}

// Runs a Pillow script with the system Python; argv[1] is path.
inline void pillow(const std::string& script, const std::string& path) {
    ASSERT_EQ(run("/usr/bin/python3 -c " + shellQuote(script) + " " + shellQuote(path)), 0)
        << script;
}

// Writes raw bytes.
inline void writeBytes(const std::string& path, const QByteArray& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f), size_t(bytes.size()));
    std::fclose(f);
}

// Makes a directory current for the life of the object.
class CurrentDir {
public:
    explicit CurrentDir(const QString& dir) : old_(QDir::currentPath()) { QDir::setCurrent(dir); }
    ~CurrentDir() { QDir::setCurrent(old_); }

private:
    QString old_;
};

// Colour of a pixel with its alpha, as 0xAARRGGBB.
inline unsigned pixelAt(const QImage& image, int x, int y) {
    return image.convertToFormat(QImage::Format_ARGB32).pixel(x, y);
}

} // namespace pixmoor::test
