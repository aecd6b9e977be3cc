// TForm2, the thumb size dialog: the width and height of the icon-view thumbnails, each 20 to 150.
#pragma once

#include "ui_Unit2.h"

#include <QDialog>
#include <optional>

class TForm2 : public QDialog, public Ui::TForm2 {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    static constexpr int kMinSide = 20;
    static constexpr int kMaxSide = 150;

    // Fills both boxes with ThumbWidth and ThumbHeight.
    void FormActivate();
    // The key filter of both boxes: true when the typed character is to be discarded.
    static bool rejectsKey(const QLineEdit* box, QChar key);
    // Takes the sizes when both are in range, else reports the fault; the dialog closes with
    // the OK result in every case.
    void okbuttonClick();
    void cancelbuttonClick();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
};

namespace pixmoor {
// Reads an integer as the dialog's boxes take it: leading blanks, an optional sign, decimal
// digits, or hexadecimal after "$" or "0x". Nothing when the text is not such a number or does
// not fit an int.
std::optional<int> parseDialogInteger(const QString& text);
} // namespace pixmoor

extern TForm2* Form2;
