// A fixture for the file commands on the real main window: the window and the file dialogs in
// their creation order, a browsed temporary directory, scripted answers to message boxes and
// helpers that answer the modal dialogs.
#pragma once

#include "app/Unit1.h"
#include "platform/globals.h"
#include "files/copy.h"
#include "files/drive.h"
#include "files/prop.h"
#include "files/rename.h"
#include "platform/message_box.h"
#include "tests/support/test_dirs.h"

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

class FileCommands : public ::testing::Test {
protected:
    void SetUp() override {
        oldCwd_ = QDir::currentPath();
        oldConfig_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_.path().string()));
        StopRequested = false;
        CurrentExt.clear();
        setMessageHandler([this](const MessageRequest& r) {
            messages.push_back(r);
            if (!answers.empty()) {
                const MessageButton b = answers.front();
                answers.pop_front();
                return b;
            }
            return MessageButton::Ok;
        });
        base = QFileInfo(QString::fromStdString(dir.path().string())).canonicalFilePath();
        form = std::make_unique<TForm1>();
        Form1 = form.get();
        form4 = std::make_unique<TForm4>();
        Form4 = form4.get();
        form5 = std::make_unique<TForm5>();
        Form5 = form5.get();
        form8 = std::make_unique<TForm8>();
        Form8 = form8.get();
        drive = std::make_unique<TOKBottomDlg1>();
        OKBottomDlg1 = drive.get();
    }

    void TearDown() override {
        drive.reset();
        form8.reset();
        form5.reset();
        form4.reset();
        form.reset();
        Form1 = nullptr;
        setMessageHandler({});
        QDir::setCurrent(oldCwd_);
        qputenv("XDG_CONFIG_HOME", oldConfig_);
        CurrentExt.clear();
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

    // Fails the test if command opens a modal dialog (and closes it, so the test goes on).
    void expectNoDialog(const std::function<void()>& command) {
        bool opened = false;
        QTimer guard;
        guard.setInterval(50);
        QObject::connect(&guard, &QTimer::timeout, [&opened] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                opened = true;
                if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
            }
        });
        guard.start();
        command();
        QTest::qWait(120);
        EXPECT_FALSE(opened) << "a dialog opened";
    }

    QStringList messageTexts() const {
        QStringList texts;
        for (const MessageRequest& r : messages) texts << r.text;
        return texts;
    }

    TempDir dir;
    QString base;
    std::vector<MessageRequest> messages;
    std::deque<MessageButton> answers; // then OK
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TForm4> form4;
    std::unique_ptr<TForm5> form5;
    std::unique_ptr<TForm8> form8;
    std::unique_ptr<TOKBottomDlg1> drive;

private:
    TempDir config_;
    QString oldCwd_;
    QByteArray oldConfig_;
};

} // namespace pixmoor::test
