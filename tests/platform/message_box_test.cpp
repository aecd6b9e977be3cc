// The central message box as shown: a detail goes under the unchanged message.
#include "platform/message_box.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct Shown {
    QString text;
    QString informative;
    QString title;
    int buttons = 0;
};

// Shows an error box and reads what it displays before pressing its OK button.
Shown showAndRead(const QString& text, const QString& detail) {
    Shown shown;
    QTimer::singleShot(0, [&shown] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shown = {box->text(), box->informativeText(), box->windowTitle(),
                 int(box->buttons().size())};
        box->buttons().front()->click();
    });
    pixmoor::showError(text, nullptr, detail);
    return shown;
}

} // namespace

TEST(MessageBox, ADetailIsShownUnderTheUnchangedMessage) {
    pixmoor::setMessageHandler({});
    const QString detail = pixmoor::fileDetail(QStringLiteral("/pics/b.ico"),
                                               QStringLiteral("The icon directory is damaged"));
    EXPECT_EQ(detail, "/pics/b.ico\nThe icon directory is damaged");
    const Shown with = showAndRead(QStringLiteral("Unable To Create Thumb For b.ico"), detail);
    EXPECT_EQ(with.text, "Unable To Create Thumb For b.ico");
    EXPECT_EQ(with.informative, detail);
    EXPECT_EQ(with.title, "Error");
    EXPECT_EQ(with.buttons, 1); // no "Show Details..." button joins OK

    const Shown without = showAndRead(QStringLiteral("No Files Selected"), QString());
    EXPECT_EQ(without.text, "No Files Selected");
    EXPECT_TRUE(without.informative.isEmpty());
}

TEST(MessageBox, FileDetailMakesARelativeNameAbsolute) {
    EXPECT_EQ(pixmoor::fileDetail(QStringLiteral("a.bmp")),
              QDir::current().absoluteFilePath("a.bmp"));
    EXPECT_EQ(pixmoor::fileDetail(QString(), QStringLiteral("reason")), "reason");
    EXPECT_TRUE(pixmoor::fileDetail(QString()).isEmpty());
}
