// The image component's clipboard: copy, cut and paste (a metafile travels as "image/x-wmf"
// with a rendered image beside it), and the keys that reach them.
#include "imaging/TMultiP.h"

#include "imaging/wmf/metafile.h"
#include "platform/message_box.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <memory>
#include <stdexcept>

namespace pixmoor {

void TPMultiImage::runKeyCommand(void (TPMultiImage::*command)()) {
    try {
        (this->*command)();
    } catch (const std::exception& e) {
        showError(QString::fromUtf8(e.what()), this);
    }
}

void TPMultiImage::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool shift = mods & Qt::ShiftModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    void (TPMultiImage::*command)() = nullptr;
    switch (event->key()) {
    case Qt::Key_Insert:
        if (shift)
            command = &TPMultiImage::PasteFromClipboard;
        else if (ctrl)
            command = &TPMultiImage::CopyToClipboard;
        break;
    case Qt::Key_Delete:
        if (shift) command = &TPMultiImage::CutToClipboard;
        break;
    case Qt::Key_C:
        if (ctrl) command = &TPMultiImage::CopyToClipboard;
        break;
    case Qt::Key_V:
        if (ctrl) command = &TPMultiImage::PasteFromClipboard;
        break;
    case Qt::Key_X:
        if (ctrl) command = &TPMultiImage::CutToClipboard;
        break;
    default:
        break;
    }
    if (!command) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    runKeyCommand(command);
}

void copyPictureToClipboard(const pixmoor::Picture& picture) {
    std::unique_ptr<QMimeData> data = picture.toMimeData();
    if (data) QGuiApplication::clipboard()->setMimeData(data.release()); // the clipboard owns it
}

void TPMultiImage::CopyToClipboard() {
    copyPictureToClipboard(picture_);
}

void TPMultiImage::CutToClipboard() {
    if (picture_.isEmpty()) return;
    CopyToClipboard();
    picture_.clear();
    pictureChanged();
}

void TPMultiImage::PasteFromClipboard() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data) return;
    const QString wmfType = QString::fromLatin1(kMetafileMimeType);
    if (data->hasFormat(wmfType)) {
        try {
            pixmoor::Picture picture;
            picture.setMetafile(wmf::Metafile::fromData(data->data(wmfType)));
            endMessageModes(false);
            setPicture(std::move(picture));
            return;
        } catch (const wmf::MetafileError&) {
            if (!data->hasImage()) throw; // nothing else to take: say why
        }
    }
    if (!data->hasImage()) return;
    const QImage image = qvariant_cast<QImage>(data->imageData());
    if (image.isNull()) return;
    endMessageModes(false);
    setBitmap(image);
}

} // namespace pixmoor
