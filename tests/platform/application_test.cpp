// The application's last-resort handler: an exception escaping an event handler is shown in the
// standard error box and the program goes on.
#include "platform/application.h"
#include "platform/message_box.h"
#include "platform/session_bus.h"
#include "tests/support/test_dirs.h"

#include <QTimer>
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

class Thrower : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw std::runtime_error("Disk full while writing a.bmp");
        if (e->type() == QEvent::User + 1) throw 42;
        return QObject::event(e);
    }
};

} // namespace

TEST(Application, UncaughtErrorsAreShownAndTheProgramKeepsRunning) {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    pixmoor::test::usePrivateXdgDirs();
    ASSERT_TRUE(pixmoor::preventSessionBusAutolaunch()); // as the program does
    int argc = 1;
    char name[] = "pixmoor-test";
    char* argv[] = {name, nullptr};
    pixmoor::Application app(argc, argv);

    std::vector<pixmoor::MessageRequest> shown;
    pixmoor::setMessageHandler([&](const pixmoor::MessageRequest& r) {
        shown.push_back(r);
        return pixmoor::MessageButton::Ok;
    });

    Thrower thrower;
    QEvent first(QEvent::User);
    EXPECT_FALSE(QApplication::sendEvent(&thrower, &first));
    QEvent second(QEvent::Type(QEvent::User + 1));
    QApplication::sendEvent(&thrower, &second);

    // Posted events go through the same door inside the running loop, which keeps going.
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    bool ranAfter = false;
    QTimer::singleShot(0, [&] {
        ranAfter = true;
        QCoreApplication::quit();
    });
    app.exec();

    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].kind, pixmoor::MessageKind::Error);
    EXPECT_EQ(shown[0].text, "Disk full while writing a.bmp");
    EXPECT_EQ(shown[0].buttons, std::vector<pixmoor::MessageButton>{pixmoor::MessageButton::Ok});
    EXPECT_EQ(shown[1].text, "An unexpected error occurred.");
    EXPECT_EQ(shown[2].text, "Disk full while writing a.bmp");
    EXPECT_TRUE(ranAfter);
    pixmoor::setMessageHandler({});
}
