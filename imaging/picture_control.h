// TImage, the picture control: a widget that shows a picture (bitmap, icon or metafile) at its
// own size, centred, or stretched to the control, and can size itself to the picture.
#pragma once

#include "imaging/picture.h"

#include <QWidget>

namespace pixmoor {

class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);

    const Picture& picture() const { return picture_; }
    void setPicture(const Picture& picture);
    // Loads by extension (see Picture::loadFromFile); throws PictureError, leaving it empty.
    void loadPicture(const QString& path);
    void clearPicture();

    // Stretch: the picture fills the control (a metafile redrawn as vectors at every size).
    bool stretch() const { return stretch_; }
    void setStretch(bool on);
    // Center: an unstretched picture is centred in the control instead of at its top-left.
    bool center() const { return center_; }
    void setCenter(bool on);
    // AutoSize: the control takes the picture's size whenever the picture changes.
    bool autoSize() const { return autoSize_; }
    void setAutoSize(bool on);

    // The rectangle the picture is drawn into, in the control's coordinates.
    QRect destRect() const;
    QSize sizeHint() const override;

signals:
    void pictureChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void pictureWasChanged();

    Picture picture_;
    bool stretch_ = false;
    bool center_ = false;
    bool autoSize_ = false;
};

} // namespace pixmoor
