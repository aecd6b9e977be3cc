// Tests of the thumb size dialog: activation, the key filter, the range check and the results.
#include "catalogue/Unit2.h"
#include "platform/globals.h"
#include "platform/message_box.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <vector>

namespace {

class ThumbSizeDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ThumbWidth = 70;
        ThumbHeight = 70;
        pixmoor::setMessageHandler([this](const pixmoor::MessageRequest& r) {
            messages.push_back(r);
            return pixmoor::MessageButton::Ok;
        });
        dialog.FormActivate();
    }
    void TearDown() override {
        pixmoor::setMessageHandler({});
        ThumbWidth = ThumbHeight = 70;
    }

    // Types into both boxes (replacing their text) and presses OK.
    void accept(const QString& w, const QString& h) {
        dialog.Edit1->setText(w);
        dialog.Edit2->setText(h);
        dialog.okbutton->click();
    }

    TForm2 dialog;
    std::vector<pixmoor::MessageRequest> messages;
};

} // namespace

TEST_F(ThumbSizeDialog, ShowsTheCurrentSizes) {
    ThumbWidth = 120;
    ThumbHeight = 33;
    dialog.FormActivate();
    EXPECT_EQ(dialog.Edit1->text(), "120");
    EXPECT_EQ(dialog.Edit2->text(), "33");
}

TEST_F(ThumbSizeDialog, AcceptsTheEndsOfTheRange) {
    accept("20", "150");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ThumbWidth, 20);
    EXPECT_EQ(ThumbHeight, 150);
    EXPECT_TRUE(messages.empty());
}

TEST_F(ThumbSizeDialog, OutOfRangeInEitherBoxIsReportedAndChangesNothingButStillAccepts) {
    for (auto [w, h] : std::vector<std::pair<QString, QString>>{
             {"19", "100"}, {"151", "100"}, {"100", "19"}, {"100", "151"}, {"0", "0"}}) {
        messages.clear();
        accept(w, h);
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << w.toStdString() << "x" << h.toStdString();
        EXPECT_EQ(ThumbWidth, 70);
        EXPECT_EQ(ThumbHeight, 70);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].kind, pixmoor::MessageKind::Error);
        EXPECT_EQ(messages[0].text, "Image Width Value Must Be In Range 20 To 150");
        EXPECT_EQ(messages[0].buttons, std::vector{pixmoor::MessageButton::Ok});
    }
}

TEST_F(ThumbSizeDialog, EmptyOrNonNumericBoxNamesItsText) {
    accept("", "80");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "'' is not a valid integer value");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    messages.clear();
    accept("80", "8a");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "'8a' is not a valid integer value");
    EXPECT_EQ(ThumbWidth, 70);
    EXPECT_EQ(ThumbHeight, 70);
}

TEST_F(ThumbSizeDialog, ReadsIntegersAsTheFrameworkDoes) {
    using pixmoor::parseDialogInteger;
    EXPECT_EQ(parseDialogInteger("  42"), 42);
    EXPECT_EQ(parseDialogInteger("$64"), 100);
    EXPECT_EQ(parseDialogInteger("0x64"), 100);
    EXPECT_EQ(parseDialogInteger("-5"), -5);
    EXPECT_FALSE(parseDialogInteger("42 "));
    EXPECT_FALSE(parseDialogInteger(""));
    EXPECT_FALSE(parseDialogInteger("99999999999"));
    EXPECT_FALSE(parseDialogInteger("٤٢")); // digits of other scripts are not numbers here
}

TEST_F(ThumbSizeDialog, KeyFilterTakesDigitsUpToThreeAndBackspaceAlways) {
    dialog.show();
    QLineEdit* box = dialog.Edit1;
    box->clear();
    box->setFocus();
    QTest::keyClicks(box, "1a2-b 3");
    EXPECT_EQ(box->text(), "123");
    QTest::keyClicks(box, "4");
    EXPECT_EQ(box->text(), "123"); // a fourth digit is ignored
    box->setSelection(1, 2);
    QTest::keyClicks(box, "9");
    EXPECT_EQ(box->text(), "123"); // also over part of it selected
    box->selectAll();
    QTest::keyClicks(box, "95");
    EXPECT_EQ(box->text(), "95"); // typing over the whole text replaces it
    QTest::keyClicks(box, "3");
    QTest::keyClick(box, Qt::Key_End);
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_EQ(box->text(), "95");
    QTest::keyClick(box, Qt::Key_Left);
    QTest::keyClicks(box, "7");
    EXPECT_EQ(box->text(), "975"); // cursor keys still move
    QTest::keyClick(box, Qt::Key_Delete);
    EXPECT_EQ(box->text(), "97"); // Delete is no character: it works
    QTest::keyClicks(dialog.Edit2, "x");
    EXPECT_EQ(dialog.Edit2->text(), "70");
    // Ctrl+V is a control character to the filter: nothing is pasted.
    QGuiApplication::clipboard()->setText("5");
    dialog.Edit2->setFocus();
    dialog.Edit2->selectAll();
    QTest::keyClick(dialog.Edit2, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(dialog.Edit2->text(), "70");
    dialog.hide();
}

TEST_F(ThumbSizeDialog, OpeningSelectsTheFirstBoxSoTypingReplacesIt) {
    QTimer::singleShot(0, [this] {
        (void)QTest::qWaitFor([this] { return dialog.isActiveWindow(); }, 2000);
        QWidget* focused = QApplication::focusWidget();
        if (!focused) return;
        QTest::keyClicks(focused, "150");
        QTest::keyClick(focused, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.Edit1->text(), "150");
    EXPECT_EQ(ThumbWidth, 150);
}

TEST_F(ThumbSizeDialog, EnterAcceptsAndEscapeCancelsTheModalDialog) {
    QTimer::singleShot(0, [this] {
        // Activation fills the boxes: type after it.
        (void)QTest::qWaitFor([this] { return dialog.isActiveWindow(); }, 2000);
        dialog.Edit1->setFocus();
        dialog.Edit1->setText("");
        QTest::keyClicks(dialog.Edit1, "45");
        QTest::keyClick(dialog.Edit1, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(ThumbWidth, 45);
    EXPECT_EQ(ThumbHeight, 70);

    QTimer::singleShot(0, [this] {
        dialog.Edit1->setText("99");
        QTest::keyClick(dialog.Edit1, Qt::Key_Escape);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(ThumbWidth, 45);
}

TEST_F(ThumbSizeDialog, OpensWithTheKeyboardInTheFirstField) {
    dialog.show();
    dialog.Edit2->setFocus();
    dialog.hide();
    QWidget* focused = nullptr;
    QTimer::singleShot(0, [&] {
        (void)QTest::qWaitFor([this] { return dialog.isActiveWindow(); }, 2000);
        focused = dialog.focusWidget();
        dialog.reject();
    });
    dialog.exec();
    EXPECT_EQ(focused, dialog.Edit1);
}
