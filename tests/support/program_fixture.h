// A fixture that builds the program's real windows as main() does, against a private settings
// file, with recorded and scripted message boxes; it puts back the working directory and the
// shared state afterwards.
#pragma once

#include "app/Unit1.h"
#include "app/program.h"
#include "platform/message_box.h"
#include "tests/support/test_dirs.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace pixmoor::test {

// One of the program's windows, reached through its global as the program reaches it: null
// until the windows are built and after they are gone.
template <typename Window>
class WindowOf {
public:
    explicit WindowOf(Window*& global) : global_(global) {}
    Window* get() const { return global_; }
    Window* operator->() const { return global_; }
    operator Window*() const { return global_; }

private:
    Window*& global_;
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds every window of the program; returns the main window.
    TForm1* createWindows();
    // Destroys the windows, the later ones first, as the program does at its end.
    void destroyWindows();
    // Shows the main window and lets its first activation run.
    void showAndActivate();

    // Records a message box and answers it with the next scripted answer, then OK.
    virtual MessageButton answer(const MessageRequest& request);
    QStringList messageTexts() const;

    // The private settings file, as text written by hand and read back as another program would.
    QString confPath() const;
    void writeConf(const QByteArray& text);
    QString stored(const QString& key) const;

    WindowOf<TForm1> form{Form1};
    std::vector<MessageRequest> messages;
    std::deque<MessageButton> answers;

private:
    std::unique_ptr<ProgramForms> windows_;
    TempDir config_;
    QString oldCwd_;
    QByteArray oldConfig_;
    bool setUp_ = false;
};

} // namespace pixmoor::test
