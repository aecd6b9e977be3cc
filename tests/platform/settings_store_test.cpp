// The settings store: integer parsing rules and values written and read back through the file.
#include "platform/settings_store.h"
#include "tests/support/test_dirs.h"

#include <QFile>
#include <gtest/gtest.h>

using pixmoor::parseSettingsInteger;

TEST(SettingsInteger, ParsesDecimalHexSignsAndBlanksAndFallsBackOnAnythingElse) {
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {"70", 70},
        {"0", 0},
        {"-12", -12},
        {"+12", 12},
        {"   42", 42},
        {"  -7", -7},
        {"0x64", 100},
        {"0X64", 100},
        {"0xff", 255},
        {"$64", 100},
        {"$ff", 255},
        {"$FFFFFFFF", -1},
        {"0x", -5},
        {"$", -5},
        {"", -5},
        {"abc", -5},
        {"12abc", -5},
        {"42 ", -5},
        {"1 2", -5},
        {"- 1", -5},
        {"0x1G", -5},
        {"$-1", -5},
        {"+", -5},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", -5},
        {"99999999999", -5},
        {"0x100000000", -5},
        {"007", 7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseSettingsInteger(QString::fromUtf8(c.text), -5), c.expected)
            << "text: \"" << c.text << "\"";
}

TEST(SettingsStore, WritesStringsAndReadsThemBackInSections) {
    pixmoor::test::TempDir dir;
    const QString path = QString::fromStdString(dir.file("KEMRA.conf"));
    {
        pixmoor::SettingsStore store(path);
        store.writeInteger("Main", "ThumbSizew", 120);
        store.writeString("Main", "Directory", "/some dir, with comma");
        store.writeString("Window", "WindowState", "Maximized");
        EXPECT_TRUE(store.sync());
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.contains("[Main]"));
    EXPECT_TRUE(text.contains("[Window]"));
    EXPECT_TRUE(text.contains("ThumbSizew=120"));

    const pixmoor::SettingsStore store(path);
    EXPECT_EQ(store.readInteger("Main", "ThumbSizew", 70), 120);
    EXPECT_EQ(store.readString("Main", "Directory", ""), "/some dir, with comma");
    EXPECT_EQ(store.readString("Window", "WindowState", "Normal"), "Maximized");
    EXPECT_EQ(store.readInteger("Main", "Missing", 70), 70);
    EXPECT_EQ(store.readString("Nowhere", "Missing", "dflt"), "dflt");
}

TEST(SettingsStore, HandWrittenValuesFollowTheIntegerRules) {
    pixmoor::test::TempDir dir;
    const QString path = QString::fromStdString(dir.file("KEMRA.conf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Main]\nThumbSizew=0x64\nThumbSizeh=\"  -3\"\n[Window]\nWindowWidth=$320\n"
               "WindowHeight=big\n");
    file.close();
    const pixmoor::SettingsStore store(path);
    EXPECT_EQ(store.readInteger("Main", "ThumbSizew", 70), 100);
    EXPECT_EQ(store.readInteger("Main", "ThumbSizeh", 70), -3);
    EXPECT_EQ(store.readInteger("Window", "WindowWidth", 570), 800);
    EXPECT_EQ(store.readInteger("Window", "WindowHeight", 450), 450);
}

TEST(SettingsStore, FileLivesInXdgConfigHome) {
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/somewhere/config");
    EXPECT_EQ(pixmoor::settingsFilePath(), "/somewhere/config/KEMRA.conf");
    qputenv("XDG_CONFIG_HOME", old);
}
