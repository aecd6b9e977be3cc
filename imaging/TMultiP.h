// The image component TPMultiImage: loads pictures by file extension through the codec library
// (or the picture, for icons and metafiles), saves them in six formats, paints them with an
// aspect-preserving stretch and a text overlay, exchanges them with the clipboard and prints them.
#pragma once

#include "imaging/codec/codec.h"
#include "imaging/codec/format_table.h"
#include "imaging/codec/raster.h"
#include "imaging/picture.h"
#include "imaging/scrolling_message.h"

#include <QColor>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

class QPainter;
class QPaintDevice;

namespace pixmoor {

enum TLoadResolution { lColorVga, lMonoChrome, lColor16, lColor256, lColorTrue, lAutoMatic };
enum TSaveResolution {
    sColorVga,
    sMonoChrome,
    sColor16,
    sColor256,
    sColorTrue,
    sJpegGray,
    sAutoMatic
};
enum TTiffCompression { sNONE, sCCITT, sLZW, sPACKBITS };
enum TBorderStyle { bsNone, bsSingle };

// The information gathered after each load.
struct ImageInfo {
    QString InfoFormat;
    std::int32_t InfoWidth = 0;
    std::int32_t InfoHeight = 0;
    std::int32_t InfoValue1 = 0;
    std::int32_t InfoValue2 = 0;
    std::int32_t InfoValue3 = 0;
    std::int32_t InfoSize = 0; // bytes
    QString InfoDetail;
};

// Asks before a file is overwritten. Returns true when the file must NOT be written: it exists
// and the user answered No. A missing file returns false without asking.
bool ConfirmOverwrite(const QString& FileName, QWidget* parent = nullptr);

// The colour depth class of a device: 4 for 4 bits or fewer, 8 for 5..15, 24 for 16 or more.
int DeviceColorBits(const QPaintDevice* device);
int DeviceColorBits(int bitsPerPixel);

// Puts a picture on the clipboard: a bitmap as an image, a metafile as "image/x-wmf" with a
// rendered image beside it; nothing for an empty picture. Throws std::runtime_error("Clipboard
// does not support Icons") for an icon.
void copyPictureToClipboard(const pixmoor::Picture& picture);

// Depth asked of the decoders and encoders; displayBits is DeviceColorBits of the screen.
int loadResolutionBits(TLoadResolution res, int displayBits);
int saveResolutionBits(TSaveResolution res, codec::ImageFormat format, int displayBits);
int tiffCompressionCode(TTiffCompression compression);

// Where the palette path draws a PW x PH picture in a CW x CH client with StretchRatio: x, y and
// the size w x h (ties round to even; a zero picture size gives the whole client).
QRect stretchRatioRect(int clientWidth, int clientHeight, int pictureWidth, int pictureHeight);

class TPMultiImage : public QWidget {
    Q_OBJECT
public:
    explicit TPMultiImage(QWidget* parent = nullptr);
    ~TPMultiImage() override;

    // Loading. Writing the name loads the file; reading it loads again and yields LoadStatus.
    void setImageName(const QString& name);
    QString ImageName();
    const QString& storedImageName() const { return imageName_; }
    const QString& LoadStatus() const { return loadStatus_; }
    bool ReadImageInfo(const QString& FileName);
    const pixmoor::ImageInfo& imageInfo() const { return info_; }

    // Fast load for thumbnails: as setImageName, but a JPEG is decoded at the largest libjpeg
    // scale (1/2, 1/4, 1/8) that still covers target, and the header is read only once.
    void loadForSize(const QString& name, QSize target);

    // The decode of a codec image file that the load makes (file: the name in the file system's
    // bytes; bits and dither as loadResolutionBits and ImageDither give them). Safe on any
    // thread, so a file can be decoded ahead; setDecodedImage then installs the result.
    static int decodeImageFile(codec::ImageFormat format, const std::string& file, int bits,
                               int dither, codec::Raster& out);
    // As setImageName(name), but with the decode already made by decodeImageFile (result and
    // raster) for the file as it is now: the same messages, picture, information and status. A
    // name that is not a codec image file, or no longer exists, is loaded the ordinary way.
    void setDecodedImage(const QString& name, int result, codec::Raster&& raster);
    // As the load of a codec image file whose reads fail, without touching the file: for a file
    // whose read was given up because it never returned (a dead network or FUSE mount), which
    // would block the window if read here. The same messages, an empty picture, and the
    // information of a file that cannot be read (its size unknown: -1).
    void setUnreadableImage(const QString& name);

    // Saving: a non-empty FileName becomes DefSaveFilename first. Failures are reported in
    // message boxes only. SaveAsBMP... are save with their format.
    void save(codec::ImageFormat format, const QString& FileName);
    void SaveAsBMP(const QString& FileName);
    void SaveAsPNG(const QString& FileName);
    void SaveAsJPG(const QString& FileName);
    void SaveAsGIF(const QString& FileName);
    void SaveAsTIF(const QString& FileName);
    void SaveAsPCX(const QString& FileName);

    // The picture. The setter takes a copy; all changes run the picture-changed step.
    const pixmoor::Picture& Picture() const { return picture_; }
    void setPicture(const pixmoor::Picture& picture);
    void setPicture(pixmoor::Picture&& picture);
    void setBitmap(const QImage& image);
    void ClearImage();

    // Clipboard (also by the keys Shift+Insert, Ctrl+Insert, Shift+Delete, Ctrl+C/V/X).
    // CopyToClipboard throws std::runtime_error("Clipboard does not support Icons") for an icon.
    void CopyToClipboard();
    void CutToClipboard();
    void PasteFromClipboard();

    // Scanning through the scanner library (platform/scanner.h): ScanImage acquires one image
    // into the picture, with the scanner's dialogs over ParentWindow; a failure or a cancel is
    // reported ("Scanning Image Failed") and leaves the picture empty. SelectScanner lets the
    // user choose the source; false when none was chosen (an error box says why, unless the
    // user simply closed the list). A call while another scan or selection runs is refused.
    void ScanImage(QWidget* ParentWindow);
    bool SelectScanner(QWidget* ParentWindow);

    // Prints the picture as one document on the process printer, in printer pixels. A Width or
    // Height below 1 means the picture's own. Throws std::runtime_error when printing fails.
    void PrintImage(int Left, int Top, int Width, int Height);

    // Scrolling messages: start one, and take one step message (WM_USER+1 horizontal,
    // WM_USER+2 vertical). Start failures throw MessageFormatError.
    static constexpr int kHorizontalStepMessage = 1025;
    static constexpr int kVerticalStepMessage = 1026;
    void ShowMessageFile(const QString& FileName);
    void ShowMessageList(const QString& FileName);
    void stepMessage(int message);
    const ScrollingMessage& scrollingMessage() const { return message_; }

    // The palette the control would have realised: empty with CodecPalette, else the bitmap's.
    QList<QRgb> GetPalette() const;

    // Properties.
    bool AutoSize() const { return autoSize_; }
    void setAutoSize(bool on);
    bool Center() const { return center_; }
    void setCenter(bool on);
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void setBorderStyle(TBorderStyle style);
    QColor Color() const { return color_; }
    void setColor(const QColor& colour);
    QColor FontColor() const;
    void setFontColor(const QColor& colour);
    const QString& DefSaveFilename() const { return defSaveFilename_; }
    void setDefSaveFilename(const QString& name) { defSaveFilename_ = name; }
    bool CodecPalette() const { return codecPalette_; }
    void setCodecPalette(bool on) { codecPalette_ = on; }
    bool ImageDither() const { return imageDither_; }
    void setImageDither(bool on) { imageDither_ = on; }
    TLoadResolution ImageReadRes() const { return readRes_; }
    void setImageReadRes(TLoadResolution res) { readRes_ = res; }
    TSaveResolution ImageWriteRes() const { return writeRes_; }
    void setImageWriteRes(TSaveResolution res) { writeRes_ = res; }
    TTiffCompression TifSaveCompress() const { return tifCompress_; }
    void setTifSaveCompress(TTiffCompression c) { tifCompress_ = c; }
    int JPegSaveQuality() const { return jpegQuality_; }
    void setJPegSaveQuality(int quality);
    int JPegSaveSmooth() const { return jpegSmooth_; }
    void setJPegSaveSmooth(int smooth);
    bool PNGInterLaced() const { return pngInterlaced_; }
    void setPNGInterLaced(bool on) { pngInterlaced_ = on; }
    bool Stretch() const { return stretch_; }
    void setStretch(bool on);
    bool StretchRatio() const { return stretchRatio_; }
    void setStretchRatio(bool on);
    const QString& Text() const { return text_; }
    void setText(const QString& text);
    bool TextShadow() const { return textShadow_; }
    void setTextShadow(bool on);
    QColor TextShadowColor() const { return textShadowColor_; }
    void setTextShadowColor(const QColor& colour) { textShadowColor_ = colour; }
    int TextLeft() const { return textLeft_; }
    void setTextLeft(int left);
    int TextTop() const { return textTop_; }
    void setTextTop(int top);
    int TextRotate() const { return textRotate_; }
    void setTextRotate(int degrees);
    bool TextTransParent() const { return textTransparent_; }
    void setTextTransParent(bool on);
    bool UseTwainWindow() const { return useTwainWindow_; }
    void setUseTwainWindow(bool on) { useTwainWindow_ = on; }

    // Called at the end of every paint, with the painter of the control's client area.
    std::function<void(TPMultiImage& sender, QPainter& canvas)> OnPaint;

    // The depth of the screen the control lives on, as DeviceColorBits reports it.
    int displayBits() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void load(const QString& name, int jpegScale, QSize target);
    // The end of a codec image load: failure messages, the picture, the information.
    // readSize false: the file is not opened again for InfoSize, which becomes -1.
    void installDecoded(const QString& name, codec::ImageFormat format, int result,
                        codec::Raster&& raster, int infoResult, const codec::ImageInfo* info,
                        bool readSize = true);
    bool loadResource(const QString& name, QImage& out);
    bool applyCodecInfo(const QString& fileName, int result, const codec::ImageInfo& info,
                        bool readSize = true);
    void pictureChanged();
    void paintFramework(QPainter& painter, const QRect& client);
    void paintPalette(QPainter& painter, const QRect& client);
    void paintText(QPainter& painter);
    void endMessageModes(bool restoreColour);
    void runKeyCommand(void (TPMultiImage::*command)());

    pixmoor::Picture picture_;
    pixmoor::ImageInfo info_;
    QString imageName_;
    QString loadStatus_;
    QString defSaveFilename_;
    bool autoSize_ = false;
    bool center_ = false;
    TBorderStyle borderStyle_ = bsNone;
    QColor color_;
    bool codecPalette_ = true;
    bool imageDither_ = true;
    TLoadResolution readRes_ = lAutoMatic;
    TSaveResolution writeRes_ = sAutoMatic;
    TTiffCompression tifCompress_ = sNONE;
    int jpegQuality_ = 25;
    int jpegSmooth_ = 0;
    bool pngInterlaced_ = false;
    bool stretch_ = false;
    bool stretchRatio_ = false;
    QString text_;
    bool textShadow_ = false;
    QColor textShadowColor_ = Qt::black;
    int textLeft_ = 0;
    int textTop_ = 0;
    int textRotate_ = 0;
    bool textTransparent_ = true;
    bool useTwainWindow_ = true;

    QPixmap paintCache_; // the bitmap converted for the screen, made at the first paint
    ScrollingMessage message_;
    QColor colourBeforeMessage_;
};

} // namespace pixmoor
