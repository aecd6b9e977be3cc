// The picture: empty, a bitmap, an icon or a Windows metafile, drawn into any rectangle of a
// QPainter. It is what the picture control shows and what the image component holds.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <memory>
#include <stdexcept>

class QMimeData;
class QPainter;

namespace pixmoor {

namespace wmf {
class Metafile;
}

// The clipboard's type for a metafile's bytes.
inline constexpr char kMetafileMimeType[] = "image/x-wmf";

// Raised when a picture cannot be loaded; what() is a text fit for the user.
class PictureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An icon: the entries of an .ico file and the one the icon object shows (32 x 32, or the entry
// closest to it; a list on a high-density screen asks for the entry closest to its device
// size), with the icon's own transparency (alpha).
class Icon {
public:
    static constexpr int kSystemSize = 32;

    // Throws PictureError when the data is not a readable icon.
    static Icon fromFile(const QString& path, int preferredSize = kSystemSize);
    static Icon fromData(const QByteArray& data, int preferredSize = kSystemSize);

    const QImage& image() const { return image_; } // the chosen entry, ARGB32 premultiplied
    int width() const { return image_.width(); }
    int height() const { return image_.height(); }
    // The icon scaled to an image list's size, keeping its transparency.
    QImage scaled(int width, int height) const;

private:
    QImage image_;
};

class Picture {
public:
    enum class Kind { Empty, Bitmap, Icon, Metafile };

    Picture();
    ~Picture();
    Picture(const Picture& other);
    Picture& operator=(const Picture& other);
    Picture(Picture&&) noexcept;
    Picture& operator=(Picture&&) noexcept;

    // Loads by extension (case-insensitive): .wmf a metafile, .ico an icon, .bmp a bitmap.
    // Any other extension throws PictureError("Unknown picture file extension (.xyz)"); an
    // unreadable or unparsable file throws PictureError with a clear text. On failure the
    // picture is left empty.
    void loadFromFile(const QString& path);

    void clear();
    void setBitmap(const QImage& image); // an indexed image keeps its colour table
    void setIcon(const pixmoor::Icon& icon);
    void setMetafile(std::shared_ptr<const wmf::Metafile> metafile);

    Kind kind() const { return kind_; }
    bool isEmpty() const { return kind_ == Kind::Empty; }
    // Pixels the codecs can encode and the palette path paints.
    bool isBitmap() const { return kind_ == Kind::Bitmap; }
    // An icon or a metafile: drawn by the picture itself, never encoded.
    bool drawsItself() const { return kind_ == Kind::Icon || kind_ == Kind::Metafile; }
    // An icon keeps its own transparency where the others are shown on white.
    bool hasOwnTransparency() const { return kind_ == Kind::Icon; }
    // What the clipboard takes of it: a bitmap as an image, a metafile as its bytes under
    // kMetafileMimeType with a rendered image beside it; null for an empty picture. Throws
    // std::runtime_error("Clipboard does not support Icons") for an icon.
    std::unique_ptr<QMimeData> toMimeData() const;
    // Pixels: a placeable metafile at 96 pixels per inch, an icon at the size it is drawn (32).
    int width() const;
    int height() const;

    const QImage& bitmap() const { return bitmap_; } // null unless a bitmap
    const pixmoor::Icon* icon() const;               // null unless an icon
    std::shared_ptr<const wmf::Metafile> metafile() const { return metafile_; }

    // Draws into target: a bitmap stretched (smooth scaling when smooth is true), a metafile
    // scaled as vectors, an icon at its own 32 x 32 at target's top-left, clipped to target.
    void draw(QPainter& painter, const QRect& target, bool smooth = false) const;

    // The picture rendered as an image of its own size (a metafile on white); null when empty.
    QImage toImage() const;

private:
    Kind kind_ = Kind::Empty;
    QImage bitmap_;
    std::unique_ptr<pixmoor::Icon> icon_;
    std::shared_ptr<const wmf::Metafile> metafile_;
};

} // namespace pixmoor
