// A fixture for the file commands on the program's real windows: a browsed temporary directory,
// scripted answers to message boxes and helpers that answer the modal dialogs.
#pragma once

#include "app/Unit1.h"
#include "platform/globals.h"
#include "files/copy.h"
#include "files/drive.h"
#include "files/prop.h"
#include "files/rename.h"
#include "platform/message_box.h"
#include "tests/support/program_fixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace pixmoor::test {

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Bytes that differ at every position, so a shifted or cut copy shows.
inline QByteArray patternBytes(qsizetype n, int seed = 0) {
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i) b[i] = char((i * 131 + seed * 7 + (i >> 8)) & 0xff);
    return b;
}

class FileCommands : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        base = QFileInfo(QString::fromStdString(dir.path().string())).canonicalFilePath();
        createWindows();
    }

    // The files here are patterns of bytes, not pictures: what the catalogue says of them while
    // it builds is left out, so the record holds what the file commands said.
    MessageButton answer(const MessageRequest& r) override {
        if (form && form->isBuilding()) return MessageButton::Ok;
        return ProgramTest::answer(r);
    }

    QString path(const QString& name) const { return base + "/" + name; }

    // Points the tree at the test directory (or dir), which builds the catalogue of BMP files.
    void browse(const QString& where = {}) {
        ASSERT_TRUE(form->DirectoryListBox1->setDirectory(where.isEmpty() ? base : where));
    }

    int rowOf(const QString& caption) const {
        for (int r = 0; r < form->ListView1->count(); ++r)
            if (form->ListView1->caption(r) == caption) return r;
        return -1;
    }

    void select(const QStringList& captions) {
        for (int r = 0; r < form->ListView1->count(); ++r)
            form->ListView1->setSelected(r, captions.contains(form->ListView1->caption(r)));
    }

    QStringList captions() const { return form->ListView1->captions(); }

    // Runs command while a queued step answers the modal dialog it opens; a dialog that is still
    // open after the step (or one that should not have opened) is closed and counted.
    void withDialog(QDialog* dialog, const std::function<void()>& answer,
                    const std::function<void()>& command) {
        QTimer::singleShot(0, [dialog, answer] {
            if (!QTest::qWaitFor([dialog] { return dialog->isVisible(); }, 3000)) return;
            answer();
        });
        command();
        QCoreApplication::processEvents();
    }

    // Types target into the copy dialog and presses OK.
    void copyTo(QAction* command, const QString& target) {
        withDialog(
            form5.get(),
            [this, target] {
                form5->Edit1->setText(target);
                form5->Okbutton->click();
            },
            [command] { command->trigger(); });
    }

    // Fails the test if command opens a modal dialog (and closes it, so the test goes on): a
    // modal dialog runs its own event loop inside command, where the guard sees it.
    void expectNoDialog(const std::function<void()>& command) {
        bool opened = false;
        QTimer guard;
        guard.setInterval(0);
        QObject::connect(&guard, &QTimer::timeout, [&opened] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                opened = true;
                if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
            }
        });
        guard.start();
        command();
        EXPECT_FALSE(opened) << "a dialog opened";
    }

    TempDir dir;
    QString base;
    WindowOf<TForm4> form4{Form4};
    WindowOf<TForm5> form5{Form5};
    WindowOf<TForm8> form8{Form8};
    WindowOf<TOKBottomDlg1> drive{OKBottomDlg1};
};

} // namespace pixmoor::test
