// Tests of the lossless file-name conversion: every byte string survives the round trip, valid
// UTF-8 reads as Qt reads it, and the bytes reach the file system unchanged.
#include "platform/file_name.h"
#include "tests/support/test_dirs.h"

#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

using namespace pixmoor;

TEST(FileName, EveryByteStringSurvivesTheRoundTrip) {
    const QByteArray cases[] = {
        "plain.jpg",
        "Caf\xe9.jpg",               // Latin-1
        "\xed\xb2\x80.png",          // UTF-8 of a lone surrogate: invalid, escaped byte by byte
        "\xc0\xaf.bmp",              // overlong '/'
        "\xe2\x82",                  // truncated sequence at the end
        "\xf4\x90\x80\x80",          // above U+10FFFF
        "\xf0\x9f\x93\xb7 photo.jpg", // a valid four-byte character
        "\xff\xfe\x80\xbf",
        "",
    };
    for (const QByteArray& bytes : cases) {
        const QString name = decodeFileName(bytes);
        EXPECT_EQ(encodeFileName(name), bytes) << bytes.toHex().constData();
    }
    for (int b = 1; b < 256; ++b) {
        const QByteArray one(1, char(b));
        EXPECT_EQ(encodeFileName(decodeFileName(one)), one) << b;
        EXPECT_EQ(hasEscapedBytes(decodeFileName(one)), b >= 0x80) << b;
    }
    std::mt19937 random(17);
    for (int i = 0; i < 20000; ++i) {
        QByteArray bytes(int(random() % 12), '\0');
        for (char& c : bytes) c = char(random() % 255 + 1);
        ASSERT_EQ(encodeFileName(decodeFileName(bytes)), bytes) << bytes.toHex().constData();
    }
}

TEST(FileName, ValidUtf8ReadsAsQtReadsItAndTypedTextEncodesAsUtf8) {
    for (const char* utf8 : {"\xc3\xbcn\xc3\xaf" "c\xc3\xb8" "d\xc3\xa9.bmp", "a b 'c'.png",
                             "\xe6\x97\xa5\xe6\x9c\xac.tif", "\xf0\x9f\x93\xb7.jpg"}) {
        EXPECT_EQ(decodeFileName(utf8), QString::fromUtf8(utf8));
        EXPECT_FALSE(hasEscapedBytes(decodeFileName(utf8)));
        EXPECT_EQ(encodeFileName(QString::fromUtf8(utf8)), QByteArray(utf8));
    }
    // Only a lone escape is a byte: a proper surrogate pair is a character.
    const QString pair = QString::fromUtf8("\xf0\x9f\x93\xb7");
    EXPECT_EQ(encodeFileName(pair), QByteArray("\xf0\x9f\x93\xb7"));
    EXPECT_EQ(decodeFileName("Caf\xe9").size(), 4);
}

TEST(FileName, TheBytesReachTheFileSystem) {
    pixmoor::test::TempDir dir;
    const std::string raw = dir.path().string() + "/Caf\xe9.txt";
    const int fd = ::open(raw.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const QString path = decodeFileName(QByteArray::fromStdString(raw));
    EXPECT_EQ(nativePath(path), raw);
    EXPECT_EQ(::access(nativePath(path).c_str(), F_OK), 0);
    // Qt's own conversion loses the byte: the reason for these functions.
    EXPECT_NE(QFile::encodeName(path).toStdString(), raw);
}

TEST(FileName, JoinsWithOneSlash) {
    EXPECT_EQ(joinPath("/", "a.bmp"), "/a.bmp");
    EXPECT_EQ(joinPath("/home/x", "a.bmp"), "/home/x/a.bmp");
    EXPECT_EQ(joinPath("/home/x/", "a.bmp"), "/home/x/a.bmp");
}
