// The thumb size dialog: its key filter, the range check and the hand-over to the main window.
#include "catalogue/Unit2.h"

#include "platform/globals.h"
#include "platform/message_box.h"
#include "platform/text_fit.h"

#include <QKeyEvent>
#include <limits>

TForm2* Form2 = nullptr;

namespace pixmoor {

std::optional<int> parseDialogInteger(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == u' ') ++i;
    QString rest = text.mid(i);
    bool negative = false;
    if (!rest.isEmpty() && (rest.front() == u'+' || rest.front() == u'-')) {
        negative = rest.front() == u'-';
        rest.remove(0, 1);
    }
    int base = 10;
    if (rest.startsWith(u'$')) {
        base = 16;
        rest.remove(0, 1);
    } else if (rest.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        rest.remove(0, 2);
    }
    if (rest.isEmpty()) return std::nullopt;
    for (QChar c : rest) {
        const bool digit = c.isDigit() && c.unicode() < 128;
        const bool hex = base == 16 && ((c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'));
        if (!digit && !hex) return std::nullopt;
    }
    bool ok = false;
    const qlonglong value = rest.toLongLong(&ok, base);
    if (!ok) return std::nullopt;
    const qlonglong signedValue = negative ? -value : value;
    if (signedValue < std::numeric_limits<int>::min() ||
        signedValue > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(signedValue);
}

} // namespace pixmoor

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    // A fixed dialog frame with the system menu only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(310, 118);
    // Captions that need more room than designed (the desktop's font) get it.
    pixmoor::fitTextToFont(this);
    Edit1->installEventFilter(this);
    Edit2->installEventFilter(this);
    connect(okbutton, &QPushButton::clicked, this, &TForm2::okbuttonClick);
    connect(cancelbutton, &QPushButton::clicked, this, &TForm2::cancelbuttonClick);
}

bool TForm2::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) {
        FormActivate();
        // The focused box's text is selected, as when tabbing into it, so typing replaces it.
        if (auto* box = qobject_cast<QLineEdit*>(focusWidget())) box->selectAll();
    }
    // The keyboard starts in the first field, whatever had the focus when the dialog last closed.
    if (e->type() == QEvent::Show) Edit1->setFocus(Qt::OtherFocusReason);
    return QDialog::event(e);
}

void TForm2::FormActivate() {
    Edit1->setText(QString::number(ThumbWidth));
    Edit2->setText(QString::number(ThumbHeight));
}

bool TForm2::rejectsKey(const QLineEdit* box, QChar key) {
    const bool control = key == QChar(8) || key == QChar(13);
    if (!control && !(key >= u'0' && key <= u'9')) return true;
    // A full box takes no further digit, even over part of its text selected; typing over the
    // whole text selected replaces it.
    const bool wholeSelected = box->hasSelectedText() && box->selectedText() == box->text();
    return !control && box->text().size() >= 3 && !wholeSelected;
}

bool TForm2::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress && (watched == Edit1 || watched == Edit2)) {
        auto* key = static_cast<QKeyEvent*>(e);
        // Navigation, Delete, copying and the dialog keys (Tab, Esc) type no character into the
        // box. Ctrl+V is a control character to the filter, so nothing is pasted past it.
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab ||
            key->key() == Qt::Key_Escape || key->key() == Qt::Key_Delete ||
            key->matches(QKeySequence::Copy))
            return false;
        QChar ch;
        if (key->key() == Qt::Key_Backspace)
            ch = QChar(8);
        else if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            ch = QChar(13);
        else if (!key->text().isEmpty())
            ch = key->text().front();
        else
            return false; // arrows, Home, End, Delete: no character
        if (rejectsKey(static_cast<QLineEdit*>(watched), ch)) return true;
    }
    return QDialog::eventFilter(watched, e);
}

void TForm2::okbuttonClick() {
    const std::optional<int> w = pixmoor::parseDialogInteger(Edit1->text());
    const std::optional<int> h = w ? pixmoor::parseDialogInteger(Edit2->text()) : std::nullopt;
    if (!w || !h) {
        const QString bad = !w ? Edit1->text() : Edit2->text();
        pixmoor::showError(QStringLiteral("'%1' is not a valid integer value").arg(bad), this);
    } else if (*w >= kMinSide && *w <= kMaxSide && *h >= kMinSide && *h <= kMaxSide) {
        ThumbWidth = *w;
        ThumbHeight = *h;
    } else {
        pixmoor::showError(QStringLiteral("Image Width Value Must Be In Range 20 To 150"), this);
    }
    accept();
}

void TForm2::cancelbuttonClick() {
    reject();
}

TForm2::~TForm2() {
    if (Form2 == this) Form2 = nullptr;
}
