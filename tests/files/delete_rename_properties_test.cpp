// Delete, rename, properties, drive information, launch and explore through the real main
// window offscreen.
#include "files/drive.h"
#include "platform/file_attributes.h"
#include "tests/files/file_commands_fixture.h"

#include <QDesktopServices>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QUrl>
#include <sys/stat.h>
#include <sys/xattr.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

QString trashFiles() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
}

TEST_F(FileCommands, DeleteAsksOnceAndPutsEveryKindOfFileInTheTrash) {
    ASSERT_TRUE(trashFiles().startsWith(QDir::tempPath()));
    writeFile(path("a.bmp"), "a");
    writeFile(path("ro.bmp"), "ro");
    writeFile(path(".hidden.bmp"), "h");
    writeFile(path("keep.bmp"), "k");
    ::chmod(QFile::encodeName(path("ro.bmp")).constData(), 0444);
    browse();
    ASSERT_EQ(form->ListView1->count(), 4);

    form->Delete1->trigger();
    EXPECT_EQ(messageTexts(), QStringList({"No Files Selected"}));
    EXPECT_EQ(messages[0].kind, MessageKind::Error);

    select({"a.bmp", "ro.bmp", ".hidden.bmp"});
    messages.clear();
    answers = {MessageButton::Cancel};
    form->DeleteButton->click();
    EXPECT_EQ(messageTexts(), QStringList({"Confirm File Delete"}));
    EXPECT_EQ(messages[0].buttons, std::vector({MessageButton::Ok, MessageButton::Cancel}));
    EXPECT_EQ(form->ListView1->count(), 4);
    EXPECT_TRUE(QFileInfo::exists(path("a.bmp")));

    messages.clear();
    form->Delete2->trigger();
    EXPECT_EQ(messageTexts(), QStringList({"Confirm File Delete"})); // asked once
    EXPECT_EQ(captions(), QStringList({"keep.bmp"}));
    for (const char* n : {"a.bmp", "ro.bmp", ".hidden.bmp"}) {
        EXPECT_FALSE(QFileInfo::exists(path(n))) << n;
        EXPECT_TRUE(QFileInfo::exists(trashFiles() + "/" + n)) << n; // can be put back
        QFile::remove(trashFiles() + "/" + n);
    }
}

TEST_F(FileCommands, AFileThatCannotBeDeletedIsReportedAndKeepsItsItem) {
    writeFile(path("stuck.bmp"), "s");
    writeFile(path("free.bmp"), "f");
    const std::string stuck = path("stuck.bmp").toStdString();
    if (run("chattr +i '" + stuck + "' 2>/dev/null") != 0)
        GTEST_SKIP() << "chattr +i is not possible here";
    browse();
    form->ListView1->selectAll();
    form->Delete1->trigger();
    run("chattr -i '" + stuck + "'");
    EXPECT_EQ(messageTexts(),
              QStringList({"Confirm File Delete", "Error Deleting File stuck.bmp"}));
    EXPECT_EQ(captions(), QStringList({"stuck.bmp"}));
    EXPECT_TRUE(QFileInfo::exists(path("stuck.bmp")));
    QFile::remove(trashFiles() + "/free.bmp");
}

TEST_F(FileCommands, RenameRefusesExistingAndEmptyNamesAndResortsTheList) {
    for (const char* n : {"b.bmp", "c.bmp", "d.bmp"}) writeFile(path(n), n);
    browse();
    const auto rename = [this](const QString& typed) {
        withDialog(
            form4.get(),
            [this, typed] {
                form4->Edit1->setText(typed);
                form4->BitBtn1->click();
            },
            [this] { form->Rename1->trigger(); });
    };
    expectNoDialog([this] { form->RenameButton->click(); }); // nothing selected
    select({"c.bmp", "d.bmp"});                              // acts on the first only

    rename("d.bmp");
    EXPECT_EQ(form4->Label2->text(), "c.bmp");
    EXPECT_EQ(messageTexts(), QStringList({"File Already Exists d.bmp"}));
    rename("");
    EXPECT_EQ(messageTexts().last(), "No Name Provided");
    EXPECT_EQ(readFile(path("c.bmp")), "c.bmp");
    EXPECT_EQ(readFile(path("d.bmp")), "d.bmp");

    // Another extension is accepted; the sorted list puts the item in its new place.
    messages.clear();
    rename("a.png");
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(readFile(path("a.png")), "c.bmp");
    EXPECT_FALSE(QFileInfo::exists(path("c.bmp")));
    EXPECT_EQ(captions(), QStringList({"a.png", "b.bmp", "d.bmp"}));

    // Cancel changes nothing.
    select({"b.bmp"});
    withDialog(
        form4.get(), [this] { form4->BitBtn2->click(); }, [this] { form->Rename2->trigger(); });
    EXPECT_EQ(captions(), QStringList({"a.png", "b.bmp", "d.bmp"}));

    // A file system that refuses: the folder the name leads into does not exist.
    rename("nowhere/x.bmp");
    EXPECT_EQ(messageTexts().last(), "Cannot Rename File");
    EXPECT_EQ(captions(), QStringList({"a.png", "b.bmp", "d.bmp"}));
}

TEST_F(FileCommands, PropertiesShowTheFileAndWriteOnlyChangedAttributesKeepingOtherBits) {
    writeFile(path("f.bmp"), patternBytes(2048));
    ::chmod(QFile::encodeName(path("f.bmp")).constData(), 0444);
    const QByteArray stored = "0x184"; // system and two bits the dialog does not show
    if (::setxattr(QFile::encodeName(path("f.bmp")).constData(), kDosAttribName, stored.constData(),
                   size_t(stored.size()), 0) != 0)
        GTEST_SKIP() << "no user extended attributes here";
    writeFile(path("g.bmp"), "g");
    browse();
    expectNoDialog([this] { form->Properties2->trigger(); }); // nothing selected
    select({"f.bmp", "g.bmp"});

    const auto properties = [this](const std::function<void()>& change, bool ok) {
        withDialog(
            form8.get(),
            [this, change, ok] {
                change();
                (ok ? form8->BitBtn1 : form8->BitBtn2)->click();
            },
            [this] { form->Properties1->trigger(); });
    };
    // Shown as it is; OK with nothing changed writes nothing.
    properties([] {}, true);
    EXPECT_EQ(form8->FileLabel->text(), "f.bmp");
    EXPECT_EQ(form8->DirLabel->text(), base);
    EXPECT_EQ(form8->SizeLabel->text(), "2048");
    EXPECT_TRUE(form8->readonly->isChecked());
    EXPECT_TRUE(form8->system->isChecked());
    EXPECT_FALSE(form8->archive->isChecked());
    EXPECT_FALSE(form8->hidden->isChecked());
    EXPECT_EQ(readFileAttributes(path("f.bmp")), AttributeWord(0x185));

    // Cancel writes nothing either.
    properties([this] { form8->readonly->setChecked(false); }, false);
    EXPECT_EQ(readFileAttributes(path("f.bmp")), AttributeWord(0x185));

    // Untick read-only and system, tick archive and hidden: the other bits survive.
    properties(
        [this] {
            form8->readonly->setChecked(false);
            form8->system->setChecked(false);
            form8->archive->setChecked(true);
            form8->hidden->setChecked(true);
        },
        true);
    EXPECT_EQ(readFileAttributes(path("f.bmp")), AttributeWord(0x1a2));
    EXPECT_TRUE(QFileInfo(path("f.bmp")).isWritable());
    EXPECT_TRUE(messages.empty());

    // A file that has gone is reported and nothing is shown.
    ASSERT_TRUE(QFile::remove(path("f.bmp")));
    expectNoDialog([this] { form->Properties2->trigger(); });
    EXPECT_EQ(messageTexts(), QStringList({"File Not Found f.bmp"}));
}

TEST_F(FileCommands, DriveInformationOpensFromTheDirectorySectionOnly) {
    browse();
    expectNoDialog([this] { form->HeaderControl1SectionClick(1); });
    withDialog(
        drive.get(), [this] { drive->OkButton->click(); },
        [this] { form->HeaderControl1SectionClick(0); });
    EXPECT_EQ(drive->windowTitle(), "Drive Information");
    EXPECT_EQ(drive->Path->text(), base);
    const DriveFigures figures =
        driveFigures(QStorageInfo(base).bytesTotal(), QStorageInfo(base).bytesFree());
    EXPECT_EQ(drive->Size->text(), QString::number(figures.sizeK) + " KBytes");
    EXPECT_GT(figures.sizeK, 0);
    EXPECT_TRUE(drive->Used->text().endsWith(" KBytes"));
    EXPECT_FALSE(drive->Removable->text().isEmpty());
    EXPECT_NE(drive->Removable->text(), "Removable"); // filled, not the layout's text
}

TEST(DriveFigures, KBytesAreTruncatedAnd64Bit) {
    DriveFigures f = driveFigures(1048576, 524288);
    EXPECT_EQ(f.sizeK, 1024);
    EXPECT_EQ(f.freeK, 512);
    EXPECT_EQ(f.usedK, 512);
    f = driveFigures(1048576, 1048575);
    EXPECT_EQ(f.freeK, 1023);
    EXPECT_EQ(f.usedK, 1);
    f = driveFigures(-1, -1); // a failed query
    EXPECT_EQ(kbytesText(f.sizeK), "0 KBytes");
    EXPECT_EQ(kbytesText(f.usedK), "0 KBytes");
    f = driveFigures(2'000'000'000'000, 500'000'000'000); // a 2 TB disk
    EXPECT_EQ(kbytesText(f.sizeK), "1953125000 KBytes");
    EXPECT_EQ(f.usedK, 1953125000 - 488281250);
}

} // namespace
