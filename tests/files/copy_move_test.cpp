// Copy and move through the real main window offscreen: the target dialog, relative and missing
// targets, byte-exact copies at the chunk edges, the overwrite question, attributes of the
// sources, moves that keep the items of files that stayed, the source directory refused as a
// target, a vanished source, drops on the directory tree and the directory chooser.
#include "platform/directory_chooser.h"
#include "platform/file_attributes.h"
#include "tests/files/file_commands_fixture.h"

#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

using namespace pixmoor;
using namespace pixmoor::test;

namespace {

TEST_F(FileCommands, NothingSelectedOpensNothingAndAnEmptyTargetCopiesNothing) {
    writeFile(path("a.bmp"), "a");
    browse();
    ASSERT_EQ(captions(), QStringList({"a.bmp"}));
    expectNoDialog([this] { form->Move1->trigger(); });
    expectNoDialog([this] { form->CopyButton->click(); });
    EXPECT_TRUE(messages.empty());

    select({"a.bmp"});
    copyTo(form->Move1, "");
    EXPECT_EQ(messageTexts(), QStringList({"No target path specified"}));
    EXPECT_FALSE(TargetAccepted);
    EXPECT_EQ(captions(), QStringList({"a.bmp"})); // a move that never started drops nothing
    EXPECT_EQ(QDir(base).entryList(QDir::Files).size(), 1);

    // Cancel ends the command too; the mode shows in the caption and the label.
    withDialog(
        form5.get(), [this] { form5->CancelButton->click(); }, [this] { form->Copy2->trigger(); });
    EXPECT_EQ(form5->windowTitle(), "Copy");
    EXPECT_EQ(form5->Label1->text(), "Location to Copy Files");
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(FileCommands, ARelativeTargetIsCreatedBelowTheSourceAndGetsTheSameBytes) {
    const QList<qsizetype> sizes = {0, 5000, 5001, 3 * 1024 * 1024 + 7};
    for (qsizetype s : sizes) writeFile(path(QString("f%1.bmp").arg(s)), patternBytes(s, int(s)));
    writeFile(path("unselected.bmp"), "stays");
    browse();
    form->ListView1->selectAll();
    form->ListView1->setSelected(rowOf("unselected.bmp"), false);
    const QStringList before = captions();

    copyTo(form->Copy1, "new/deeper");
    ASSERT_EQ(messageTexts(), QStringList({"Path does not exist new/deeper Create ?"}));
    EXPECT_EQ(messages[0].kind, MessageKind::Confirmation);
    EXPECT_EQ(messages[0].buttons, std::vector({MessageButton::Ok, MessageButton::Cancel}));
    for (qsizetype s : sizes) {
        const QString name = QString("f%1.bmp").arg(s);
        EXPECT_EQ(readFile(path("new/deeper/" + name)), patternBytes(s, int(s))) << s;
        EXPECT_EQ(readFile(path(name)), patternBytes(s, int(s))); // the source stays
    }
    EXPECT_FALSE(QFileInfo::exists(path("new/deeper/unselected.bmp")));
    EXPECT_EQ(QDir(path("new/deeper"))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                  .size(),
              sizes.size()); // no temporary file left
    EXPECT_EQ(captions(), before);
    EXPECT_EQ(form->statusText(), "Copying Files");
    EXPECT_EQ(QDir::currentPath(), base);
    EXPECT_FALSE(form->isBusy());
    EXPECT_TRUE(form->ListView1->isEnabled());
}

TEST_F(FileCommands, DecliningToCreateTheTargetOfAMoveKeepsEveryItem) {
    writeFile(path("a.bmp"), "a");
    writeFile(path("b.bmp"), "b");
    browse();
    form->ListView1->selectAll();
    answers = {MessageButton::Cancel};
    copyTo(form->Move1, "missing");
    EXPECT_EQ(messageTexts(), QStringList({"Path does not exist missing Create ?"}));
    EXPECT_FALSE(QFileInfo::exists(path("missing")));
    EXPECT_EQ(captions(), QStringList({"a.bmp", "b.bmp"}));
    EXPECT_TRUE(QFileInfo::exists(path("a.bmp")));

    // A target that cannot be created: a file stands where a folder of the path should be.
    messages.clear();
    copyTo(form->Copy1, "a.bmp/sub");
    EXPECT_EQ(messageTexts(), QStringList({"Path does not exist a.bmp/sub Create ?",
                                           "Error cannot create path a.bmp/sub"}));
}

TEST_F(FileCommands, OverwriteNoSkipsOneFileOkReplacesIt) {
    QDir(base).mkdir("to");
    writeFile(path("a.bmp"), "new a");
    writeFile(path("b.bmp"), "new b");
    writeFile(path("c.bmp"), "new c");
    writeFile(path("to/a.bmp"), "old a");
    writeFile(path("to/b.bmp"), "old b");
    browse();
    form->ListView1->selectAll();
    answers = {MessageButton::No, MessageButton::Ok};
    copyTo(form->Move2, path("to"));
    ASSERT_EQ(messageTexts(), QStringList({"File already exists a.bmp Overwrite ?",
                                           "File already exists b.bmp Overwrite ?"}));
    EXPECT_EQ(messages[0].buttons, std::vector({MessageButton::No, MessageButton::Ok}));
    EXPECT_EQ(messages[0].defaultButton, MessageButton::Ok);
    EXPECT_EQ(messages[0].escapeButton, MessageButton::No);
    EXPECT_EQ(readFile(path("to/a.bmp")), "old a"); // declined
    EXPECT_EQ(readFile(path("to/b.bmp")), "new b"); // replaced
    EXPECT_EQ(readFile(path("to/c.bmp")), "new c");
    // The move removed the sources it copied; the declined file and its item stay.
    EXPECT_EQ(readFile(path("a.bmp")), "new a");
    EXPECT_FALSE(QFileInfo::exists(path("b.bmp")));
    EXPECT_FALSE(QFileInfo::exists(path("c.bmp")));
    EXPECT_EQ(captions(), QStringList({"a.bmp"}));
}

TEST_F(FileCommands, TheOverwriteQuestionShowsNoThenOkWithOkTheDefault) {
    QDir(base).mkdir("to");
    writeFile(path("a.bmp"), "new a");
    writeFile(path("to/a.bmp"), "old a");
    setMessageHandler({}); // the real box
    // Reads the box's buttons from left to right, then answers it with `key`.
    auto answerWith = [](Qt::Key key, QStringList& order, QString& byDefault, QString& escape) {
        QTimer::singleShot(0, [=, &order, &byDefault, &escape] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            QList<QAbstractButton*> buttons = box->buttons();
            std::sort(buttons.begin(), buttons.end(),
                      [box](QAbstractButton* a, QAbstractButton* b) {
                          return a->mapTo(box, QPoint()).x() < b->mapTo(box, QPoint()).x();
                      });
            for (QAbstractButton* b : buttons) order << b->text();
            byDefault = box->defaultButton() ? box->defaultButton()->text() : QString();
            escape = box->escapeButton() ? box->escapeButton()->text() : QString();
            QTest::keyClick(box, key);
        });
    };
    QStringList order;
    QString byDefault, escape;
    answerWith(Qt::Key_Escape, order, byDefault, escape);
    EXPECT_EQ(CopyMoveFile("a.bmp", base, path("to"), false, form.get()), CopyResult::Skipped);
    EXPECT_EQ(order, QStringList({"&No", "OK"}));
    EXPECT_EQ(byDefault, "OK");
    EXPECT_EQ(escape, "&No");
    EXPECT_EQ(readFile(path("to/a.bmp")), "old a");

    order.clear();
    answerWith(Qt::Key_Return, order, byDefault, escape);
    EXPECT_EQ(CopyMoveFile("a.bmp", base, path("to"), false, form.get()), CopyResult::Copied);
    EXPECT_EQ(order, QStringList({"&No", "OK"}));
    EXPECT_EQ(readFile(path("to/a.bmp")), "new a");
}

TEST_F(FileCommands, CopiedSourcesLoseReadOnlyHiddenAndSystemAndGainArchive) {
    writeFile(path("ro.bmp"), "r");
    writeFile(path(".hidden.bmp"), "h");
    writeFile(path("sys.bmp"), "s");
    ::chmod(QFile::encodeName(path("ro.bmp")).constData(), 0444);
    if (!writeFileAttributes(path("sys.bmp"), kAttrSystem | kAttrHidden | 0x100))
        GTEST_SKIP() << "no user extended attributes here";
    browse();
    form->ListView1->selectAll();
    copyTo(form->Copy1, "to");
    EXPECT_EQ(readFileAttributes(path("ro.bmp")), kAttrArchive);
    EXPECT_EQ(readFileAttributes(path("sys.bmp")), AttributeWord(kAttrArchive | 0x100));
    // The name of a dot file never changes, so it still reads hidden.
    EXPECT_EQ(readFileAttributes(path(".hidden.bmp")), AttributeWord(kAttrArchive | kAttrHidden));
    EXPECT_EQ(readFile(path("to/ro.bmp")), "r");
    EXPECT_EQ(readFile(path("to/sys.bmp")), "s");
    EXPECT_EQ(readFile(path("to/.hidden.bmp")), "h");
}

TEST_F(FileCommands, TheSourceDirectoryIsRefusedAsTargetBySymbolicLinkToo) {
    writeFile(path("a.bmp"), "only copy");
    ASSERT_EQ(::symlink(QFile::encodeName(base).constData(),
                        QFile::encodeName(path("alias")).constData()),
              0);
    browse();
    select({"a.bmp"});
    for (const QString& target : {QString("."), base, path("alias"), QString("alias/")}) {
        messages.clear();
        copyTo(form->Move1, target);
        ASSERT_EQ(messages.size(), 1u) << target.toStdString();
        EXPECT_EQ(messages[0].kind, MessageKind::Error);
        EXPECT_TRUE(messages[0].text.startsWith("Target is the source directory "));
        EXPECT_EQ(readFile(path("a.bmp")), "only copy");
        EXPECT_EQ(captions(), QStringList({"a.bmp"}));
    }
}

TEST_F(FileCommands, AVanishedSourceIsReportedAndTheWalkGoesOn) {
    for (const char* n : {"a.bmp", "b.bmp", "c.bmp"}) writeFile(path(n), n);
    browse();
    form->ListView1->selectAll();
    ASSERT_TRUE(QFile::remove(path("b.bmp")));
    copyTo(form->Move1, "to");
    EXPECT_EQ(messageTexts(),
              QStringList({"Path does not exist to Create ?", "Error copying file b.bmp"}));
    EXPECT_EQ(readFile(path("to/a.bmp")), "a.bmp");
    EXPECT_EQ(readFile(path("to/c.bmp")), "c.bmp");
    EXPECT_FALSE(QFileInfo::exists(path("to/b.bmp")));
    EXPECT_EQ(captions(), QStringList({"b.bmp"})); // its item stays; the moved ones leave
}

TEST_F(FileCommands, DropsOnTheTreeCopyTheSelectionOnlyOntoAnEntry) {
    QDir(base).mkdir("target");
    writeFile(path("a.bmp"), "a");
    writeFile(path("b.bmp"), "b");
    form->resize(700, 500);
    form->show();
    ASSERT_TRUE(QTest::qWaitFor([] { return !FirstActivation; }, 5000));
    browse();
    DirectoryTree* tree = form->DirectoryListBox1;
    const QModelIndex target = tree->fileSystemModel()->index(path("target"));
    tree->scrollTo(target);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tree->visualRect(target).isValid(); }, 5000));

    const auto drop = [&](const QPoint& at) {
        const std::unique_ptr<QMimeData> mime(form->ListView1->model()->mimeData(
            {form->ListView1->model()->index(form->ListView1->selected(), 0)}));
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, mime.get(), Qt::LeftButton, {});
        QApplication::sendEvent(tree->viewport(), &enter);
        QDropEvent event(QPointF(at), Qt::CopyAction | Qt::MoveAction, mime.get(), Qt::LeftButton,
                         {});
        QApplication::sendEvent(tree->viewport(), &event);
        QCoreApplication::processEvents();
    };
    // Below the last entry: nothing. The file system model fills in the background, so the last
    // entry is looked for until the tree has settled.
    QPoint below;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            tree->scrollToBottom();
            QCoreApplication::processEvents();
            QModelIndex last;
            for (int y = tree->viewport()->height() - 1; y >= 0 && !last.isValid(); --y)
                last = tree->indexAt(QPoint(5, y));
            if (!last.isValid()) return false;
            below = QPoint(5, tree->visualRect(last).bottom() + 4);
            return !tree->indexAt(below).isValid();
        },
        5000));
    select({"a.bmp", "b.bmp"});
    drop(below);
    EXPECT_TRUE(QDir(path("target")).isEmpty());
    EXPECT_TRUE(messages.empty());

    // One selected item is copied too; a drop never moves.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            tree->scrollTo(target);
            return tree->indexAt(tree->visualRect(target).center()) == target;
        },
        5000));
    select({"b.bmp"});
    drop(tree->visualRect(target).center());
    EXPECT_EQ(readFile(path("target/b.bmp")), "b");
    EXPECT_FALSE(QFileInfo::exists(path("target/a.bmp")));
    EXPECT_EQ(captions(), QStringList({"a.bmp", "b.bmp"}));
    EXPECT_EQ(form->statusText(), "Copying Files");

    // The entry of the shown directory itself is refused.
    const QModelIndex self = tree->fileSystemModel()->index(base);
    tree->scrollTo(self);
    ASSERT_EQ(tree->indexAt(tree->visualRect(self).center()), self);
    drop(tree->visualRect(self).center());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.startsWith("Target is the source directory "));
}

TEST_F(FileCommands, TheChooserCreatesATypedDirectoryAfterAskingAndFillsTheField) {
    withDialog(
        form5.get(),
        [this] {
            QTimer::singleShot(0, [this] {
                DirectoryChooser* chooser = nullptr;
                (void)QTest::qWaitFor(
                    [&] {
                        chooser =
                            qobject_cast<DirectoryChooser*>(QApplication::activeModalWidget());
                        return chooser != nullptr;
                    },
                    3000);
                ASSERT_NE(chooser, nullptr);
                EXPECT_EQ(chooser->windowTitle(), "Select Directory");
                EXPECT_EQ(chooser->labelText(QFileDialog::FileName), "Directory &Name:");
                chooser->setDirectory(base);
                chooser->findChild<QLineEdit*>("fileNameEdit")->setText("made/here");
                answers = {MessageButton::No};
                chooser->accept(); // No: the chooser stays open
                EXPECT_TRUE(chooser->isVisible());
                EXPECT_FALSE(QFileInfo::exists(path("made")));
                answers = {MessageButton::Yes};
                chooser->accept();
            });
            form5->BrowseButton->click();
            EXPECT_EQ(form5->Edit1->text(), path("made/here"));
            form5->CancelButton->click();
        },
        [this] { form5->exec(); });
    EXPECT_TRUE(QFileInfo(path("made/here")).isDir());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "The specified directory does not exist. Create it?");
    EXPECT_EQ(messages[0].buttons, std::vector({MessageButton::Yes, MessageButton::No}));
}

} // namespace

// Items that are links to files outside the folder: copying, moving and deleting them makes
// only the items plain; the files they lead to keep their mode and attributes.
TEST_F(FileCommands, LinkItemsNeverChangeTheFilesTheyLeadTo) {
    QDir(base).mkpath("elsewhere");
    QDir(base).mkpath("photos");
    const QString outside = path("elsewhere/readonly.bmp");
    writeFile(outside, "outside");
    const bool attributes = writeFileAttributes(outside, kAttrReadOnly | kAttrSystem);
    ::chmod(QFile::encodeName(outside).constData(), 0444);
    const auto stateOf = [&] {
        struct stat st {};
        ::stat(QFile::encodeName(outside).constData(), &st);
        return std::make_pair(st.st_mode & 07777, readFile(outside));
    };
    const auto before = stateOf();
    for (const char* name : {"c.bmp", "m.bmp", "d.bmp"})
        ASSERT_TRUE(QFile::link("../elsewhere/readonly.bmp", path("photos/") + name));
    browse(path("photos"));
    select({"c.bmp"});
    copyTo(form->Copy1, "copied");
    select({"m.bmp"});
    copyTo(form->Move1, "moved");
    select({"d.bmp"});
    form->Delete1->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(stateOf(), before);
    if (attributes) {
        EXPECT_EQ(readFileAttributes(outside), AttributeWord(kAttrReadOnly | kAttrSystem));
    }
    EXPECT_EQ(readFile(path("photos/copied/c.bmp")), "outside");
    EXPECT_EQ(readFile(path("photos/moved/m.bmp")), "outside");
    EXPECT_EQ(captions(), QStringList({"c.bmp"}));
}

// The target is a link that is re-pointed at the source folder while a move runs: every file
// is kept, either moved before the change or still in the source, byte for byte.
TEST_F(FileCommands, ATargetLinkRepointedAtTheSourceDuringAMoveLosesNothing) {
    QDir(base).mkpath("photos");
    QDir(base).mkpath("real");
    ASSERT_TRUE(QFile::link(path("real"), path("target")));
    QStringList names;
    for (int i = 0; i < 6; ++i) {
        names << QString("f%1.bmp").arg(i);
        writeFile(path("photos/") + names.last(), patternBytes(100000, i));
    }
    FileWalk walk;
    walk.sourceDir = path("photos");
    walk.targetDir = path("target");
    walk.move = true;
    int item = 0;
    walk.beforeItem = [&] {
        if (++item != 3) return;
        QFile::remove(path("target"));
        QFile::link(path("photos"), path("target"));
    };
    const QList<int> gone = copyMoveItems(names, {0, 1, 2, 3, 4, 5}, walk);
    EXPECT_EQ(gone, QList<int>({0, 1}));
    for (int i = 0; i < 6; ++i) {
        const QString name = names[i];
        EXPECT_EQ(readFile((i < 2 ? path("real/") : path("photos/")) + name),
                  patternBytes(100000, i))
            << name.toStdString();
    }
    EXPECT_EQ(messageTexts().count(QString("Error copying file f2.bmp")), 1);
}
