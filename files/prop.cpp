// The properties dialog: the file's figures, its attribute boxes and the write-back.
#include "files/prop.h"

#include "platform/file_name.h"
#include "platform/message_box.h"
#include "platform/text_fit.h"

#include <QFileInfo>

TForm8* Form8 = nullptr;

using pixmoor::AttributeWord;

TForm8::TForm8(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(325, 208);
    // Captions that need more room than designed (the desktop's font) get it.
    pixmoor::fitTextToFont(this);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

TForm8::~TForm8() {
    if (Form8 == this) Form8 = nullptr;
}

void TForm8::setBoxes(AttributeWord word) {
    readonly->setChecked(word & pixmoor::kAttrReadOnly);
    archive->setChecked(word & pixmoor::kAttrArchive);
    system->setChecked(word & pixmoor::kAttrSystem);
    hidden->setChecked(word & pixmoor::kAttrHidden);
}

AttributeWord TForm8::wordFromBoxes(AttributeWord old) const {
    AttributeWord word = old;
    const auto put = [&word](bool on, AttributeWord bit) {
        word = on ? AttributeWord(word | bit) : AttributeWord(word & ~bit);
    };
    put(readonly->isChecked(), pixmoor::kAttrReadOnly);
    put(archive->isChecked(), pixmoor::kAttrArchive);
    put(system->isChecked(), pixmoor::kAttrSystem);
    put(hidden->isChecked(), pixmoor::kAttrHidden);
    return word;
}

void TForm8::showProperties(const QString& caption, const QString& dir) {
    const QString path = pixmoor::joinPath(dir, caption);
    const QFileInfo info(path);
    const std::optional<AttributeWord> old = pixmoor::readFileAttributes(path);
    if (!info.exists() || info.isDir() || !old) {
        pixmoor::showError(QStringLiteral("File Not Found ") + caption, parentWidget());
        return;
    }
    FileLabel->setText(caption);
    DirLabel->setText(dir);
    SizeLabel->setText(QString::number(info.size()));
    setBoxes(*old);
    if (exec() != QDialog::Accepted) return;
    const AttributeWord word = wordFromBoxes(*old);
    if (word == *old) return;
    if (!QFileInfo::exists(path)) {
        // Gone while the dialog was open: nothing to write to.
        pixmoor::showError(QStringLiteral("File Not Found ") + caption, parentWidget());
        return;
    }
    pixmoor::writeFileAttributes(path, word); // a failure is not reported
}
