// The scan window: its design, scanning through the SANE test driver (also failing), scroll bars
// for a large scan, Save As with the filter's extension forced on the name (read back by
// ImageMagick), the overwrite questions and Exit.
#include "acquire/scan.h"
#include "platform/message_box.h"
#include "tests/support/sane_test.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace pixmoor;
using namespace pixmoor::test;

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

class ScanWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveProgram("scanimage")) GTEST_SKIP() << "scanimage (sane-utils) is missing";
        setMessageHandler([this](const MessageRequest& r) {
            messages.push_back(r);
            return answer;
        });
        form = std::make_unique<TForm9>();
        Form9 = form.get();
    }
    void TearDown() override {
        form.reset();
        setMessageHandler({});
    }

    // Scans the test driver's colour pattern at dpi into the window's component.
    void scan(int dpi) {
        ScanDialogAnswers answers({{"mode", "Color"},
                                   {"resolution", QString::number(dpi)},
                                   {"test-picture", "Color pattern"}});
        form->Scan2Click();
        ASSERT_EQ(answers.optionDialogs, 1);
    }

    // Answers the next Save As dialog: the filter chosen, then the name typed (empty: Cancel).
    // Records the filter the dialog came up with.
    void answerSave(const QString& filter, const QString& name) {
        const QFileInfo typed(name);
        answerSave(filter, typed.path(), name.isEmpty() ? QString() : typed.fileName());
    }
    // The same with the name typed relative to the folder shown.
    void answerSave(const QString& filter, const QString& folder, const QString& typed) {
        saveAnswers.push_back({filter, folder, typed});
        if (saveAnswers.size() == 1) scheduleSaveAnswer();
    }

    void scheduleSaveAnswer() {
        QTimer::singleShot(10, [this] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                scheduleSaveAnswer(); // not up yet
                return;
            }
            const auto [filter, folder, typed] = saveAnswers.front();
            saveAnswers.erase(saveAnswers.begin());
            filtersSeen << dialog->selectedNameFilter();
            titlesSeen << dialog->windowTitle();
            if (typed.isEmpty()) {
                dialog->reject();
            } else {
                dialog->selectNameFilter(filter);
                dialog->setDirectory(folder);
                dialog->findChild<QLineEdit*>("fileNameEdit")->setText(typed);
                QMetaObject::invokeMethod(dialog, "accept");
            }
            if (!saveAnswers.empty()) scheduleSaveAnswer();
        });
    }

    // ImageMagick's "format width height" of a file.
    static QString identify(const std::string& file) {
        QProcess p;
        p.start("identify", {"-format", "%m %w %h", QString::fromStdString(file)});
        p.waitForFinished(20000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    PrivateSane sane_;
    TempDir dir;
    std::unique_ptr<TForm9> form;
    std::vector<MessageRequest> messages;
    MessageButton answer = MessageButton::Ok;
    struct SaveAnswer {
        QString filter, folder, typed;
    };
    std::vector<SaveAnswer> saveAnswers;
    QStringList filtersSeen, titlesSeen;
};

QString file(const TempDir& dir, const char* name) {
    return QString::fromStdString(dir.file(name));
}

} // namespace

TEST_F(ScanWindow, DesignAndMenu) {
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), "Image Scan");
    EXPECT_EQ(form->size(), QSize(464, 300));
    EXPECT_EQ(form->Panel1->height(), 2);
    EXPECT_EQ(form->File1->title(), "&File");
    const QList<QAction*> items = form->File1->actions();
    ASSERT_EQ(items.size(), 7);
    EXPECT_EQ(items[0], form->Scan2);
    EXPECT_EQ(form->Scan2->text(), "S&can");
    EXPECT_EQ(form->Scan2->statusTip(), "Scan Image");
    EXPECT_EQ(form->Scan1->text(), "S&elect Twain");
    EXPECT_EQ(form->Scan1->statusTip(), "Select Twain Source");
    EXPECT_EQ(form->ToClipboard1->text(), "&To Clipboard");
    EXPECT_TRUE(items[3]->isSeparator());
    EXPECT_EQ(form->SaveAs1->text(), "Save &As");
    EXPECT_TRUE(items[5]->isSeparator());
    EXPECT_EQ(form->Exit1->text(), "E&xit");

    TPMultiImage* image = form->PMultiImage1;
    EXPECT_TRUE(image->AutoSize());
    EXPECT_TRUE(image->Center());
    EXPECT_TRUE(image->ImageDither());
    EXPECT_EQ(image->TifSaveCompress(), sLZW);
    EXPECT_EQ(image->JPegSaveQuality(), 25);
    EXPECT_EQ(image->JPegSaveSmooth(), 0);
    EXPECT_FALSE(image->PNGInterLaced());
    EXPECT_TRUE(image->UseTwainWindow());
    EXPECT_TRUE(image->Picture().isEmpty());

    EXPECT_EQ(form->SaveDialog1->windowTitle(), "Save Image");
    EXPECT_EQ(form->SaveDialog1->nameFilters(),
              QStringList({"Bitmap (*.bmp)", "Gif (*.gif)", "Jpeg (*.jpg)", "Pcx (*.pcx)",
                           "Png (*.png)", "Tiff (*.tif)"}));
    EXPECT_EQ(form->SaveDialog1->selectedNameFilter(), "Bitmap (*.bmp)");

    form->showScanWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->Exit1->trigger();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(ScanWindow, ALargeScanScrollsAndAFailedOneSaysSo) {
    form->showScanWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    ASSERT_NO_FATAL_FAILURE(scan(100));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(form->PMultiImage1->size(), QSize(314, 393));
    EXPECT_EQ(form->PMultiImage1->Picture().bitmap().dotsPerMeterX(), 3937); // 100 dpi
    QTRY_VERIFY(form->ScrollBox->verticalScrollBar()->isVisible());
    EXPECT_GT(form->ScrollBox->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(form->windowTitle(), "Image Scan"); // Scan keeps the caption

    // A cancelled scan: the library's box with the reason, then the component's own.
    {
        ScanDialogAnswers cancel({}, false);
        form->Scan2Click();
    }
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].kind, MessageKind::Error);
    EXPECT_EQ(messages[0].text,
              "The scan was cancelled\nThe scan options were closed without scanning");
    EXPECT_EQ(messages[1].kind, MessageKind::Information);
    EXPECT_EQ(messages[1].text, "Scanning Image Failed");
    EXPECT_TRUE(form->PMultiImage1->Picture().isEmpty());
    EXPECT_TRUE(form->isVisible());
}

TEST_F(ScanWindow, SelectTwainChoosesTheSource) {
    ScanDialogAnswers answers({}, true, 1);
    form->Scan1Click();
    EXPECT_EQ(answers.sourceDialogs, 1);
    EXPECT_EQ(chosenSource(), "test:1");
    EXPECT_FALSE(form->isVisible());
}

TEST_F(ScanWindow, SaveAsForcesTheFiltersExtensionAndKeepsTheFilter) {
    ASSERT_NO_FATAL_FAILURE(scan(50));
    // photo.gif typed under Png: photo.png written, as PNG, and no photo.gif.
    answerSave("Png (*.png)", file(dir, "photo.gif"));
    form->SaveAs1Click();
    EXPECT_EQ(titlesSeen.value(0), "Save Image");
    EXPECT_EQ(filtersSeen.value(0), "Bitmap (*.bmp)"); // the first time
    EXPECT_EQ(identify(dir.file("photo.png")), "PNG 157 196");
    EXPECT_FALSE(std::filesystem::exists(dir.file("photo.gif")));
    // The filter stays; a name without an extension gets the filter's.
    answerSave("Png (*.png)", file(dir, "plain"));
    form->SaveAs1Click();
    EXPECT_EQ(filtersSeen.value(1), "Png (*.png)");
    EXPECT_EQ(identify(dir.file("plain.png")), "PNG 157 196");
    EXPECT_TRUE(messages.empty());

    // Each format, read back by ImageMagick.
    struct Format {
        QString filter;
        std::string extension;
        QString magick;
    };
    const std::vector<Format> formats = {
        {"Bitmap (*.bmp)", "bmp", "BMP3"}, {"Gif (*.gif)", "gif", "GIF"},
        {"Jpeg (*.jpg)", "jpg", "JPEG"},   {"Pcx (*.pcx)", "pcx", "PCX"},
        {"Png (*.png)", "png", "PNG"},     {"Tiff (*.tif)", "tif", "TIFF"}};
    for (const Format& f : formats) {
        answerSave(f.filter, QString::fromStdString(dir.file("each.x")));
        form->SaveAs1Click();
        const std::string written = dir.file("each." + f.extension);
        EXPECT_EQ(identify(written), f.magick + " 157 196") << written;
    }
    EXPECT_TRUE(messages.empty());

    // Cancel writes nothing.
    answerSave("Png (*.png)", "");
    form->SaveAs1Click();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 8);
}

TEST_F(ScanWindow, OverwriteIsAskedForTheNameTypedAndForTheNameWritten) {
    ASSERT_NO_FATAL_FAILURE(scan(50));
    std::ofstream(dir.file("old.png")) << "keep";
    std::ofstream(dir.file("typed.bmp")) << "keep";
    answer = MessageButton::No;
    // "old" under Png would write old.png: asked about, refused, the dialog comes back; then
    // Cancel.
    answerSave("Png (*.png)", file(dir, "old"));
    answerSave("Png (*.png)", "");
    form->SaveAs1Click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "File Already Exists " + file(dir, "old.png") + " ,Overwrite ?");
    EXPECT_EQ(filtersSeen.size(), 2);
    // The name as typed exists: asked about too.
    messages.clear();
    answerSave("Bitmap (*.bmp)", file(dir, "typed.bmp"));
    answerSave("Bitmap (*.bmp)", "");
    form->SaveAs1Click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "File Already Exists " + file(dir, "typed.bmp") + " ,Overwrite ?");
    QFile kept(file(dir, "old.png"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "keep");
    // Yes replaces it.
    answer = MessageButton::Yes;
    answerSave("Png (*.png)", file(dir, "old"));
    form->SaveAs1Click();
    EXPECT_EQ(identify(dir.file("old.png")), "PNG 157 196");
    // A folder that does not exist is refused, and the dialog comes back.
    messages.clear();
    answerSave("Png (*.png)", QString::fromStdString(dir.path().string()), "missing/x.png");
    answerSave("Png (*.png)", "");
    form->SaveAs1Click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, MessageKind::Error);
    EXPECT_EQ(filtersSeen.size(), 7);
}

TEST(ScanSaveNames, TheFiltersExtensionReplacesTheLastOne) {
    EXPECT_EQ(forcedExtension("/d/photo.gif", 5), "/d/photo.png");
    EXPECT_EQ(forcedExtension("/d/photo", 1), "/d/photo.bmp");
    EXPECT_EQ(forcedExtension("/d/a.b.jpeg", 6), "/d/a.b.tif");
    EXPECT_EQ(forcedExtension("/d.x/photo", 3), "/d.x/photo.jpg");
    EXPECT_EQ(forcedExtension("/d/.hidden", 2), "/d/.hidden.gif");
    EXPECT_EQ(forcedExtension("/d/p.", 4), "/d/p.pcx");
}
