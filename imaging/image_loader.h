// The image loader: loads a file by its name's extension into a picture (codec images through
// the codec library, icons and metafiles through the picture, the built-in bitmap resources),
// reads its information and saves the picture in the codec's formats, with the decode and
// encode settings. Not a widget: the image component holds one and shows what it loads, and the
// catalogue, conversion, printing and the scan window load and save through it directly.
#pragma once

#include "imaging/codec/codec.h"
#include "imaging/codec/encoded_image.h"
#include "imaging/codec/format_table.h"
#include "imaging/codec/raster.h"
#include "imaging/file_types.h"
#include "imaging/picture.h"

#include <QSize>
#include <QString>
#include <cstdint>
#include <string>

class QImage;
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

// The colour depth class of a device: 4 for 4 bits or fewer, 8 for 5..15, 24 for 16 or more.
int DeviceColorBits(const QPaintDevice* device);
int DeviceColorBits(int bitsPerPixel);

// Depth asked of the decoders and encoders; displayBits is DeviceColorBits of the screen.
int loadResolutionBits(TLoadResolution res, int displayBits);
int saveResolutionBits(TSaveResolution res, codec::ImageFormat format, int displayBits);
int tiffCompressionCode(TTiffCompression compression);

class ImageLoader {
public:
    // What shows the loaded picture (the image component): told when the picture changes, and
    // the one that shows scrolling message files.
    class View {
    public:
        // A new load ends a scrolling message, its colour given back.
        virtual void endMessages() = 0;
        virtual void pictureChanged() = 0;
        // Starts a scrolling message file (list: a message list); throws when it cannot.
        virtual void showMessage(const QString& FileName, bool list) = 0;
        // The depth of the screen the picture is shown on, as DeviceColorBits reports it.
        virtual int displayBits() const = 0;

    protected:
        ~View() = default;
    };

    // view: what shows the picture, or null for a loader alone (the primary screen's depth;
    // scrolling message files are not shown).
    explicit ImageLoader(View* view = nullptr);
    ImageLoader(const ImageLoader&) = delete;
    ImageLoader& operator=(const ImageLoader&) = delete;

    // Loading. Writing the name loads the file; reading it loads again and yields LoadStatus.
    void setImageName(const QString& name);
    QString ImageName();
    const QString& storedImageName() const { return imageName_; }
    const QString& LoadStatus() const { return loadStatus_; }
    bool ReadImageInfo(const QString& FileName);
    const pixmoor::ImageInfo& imageInfo() const { return info_; }
    // Whether the information was last read of an icon or a metafile: the component then paints
    // through the framework, whatever its picture holds since (a bitmap pasted after, say).
    bool infoOfDrawnPicture() const { return drawnInfo_; }

    // Fast load for thumbnails: as setImageName, but a format that decodes at reduced sizes
    // (JPEG: 1/2, 1/4, 1/8) is decoded at the smallest size that still covers target, and the
    // header is read only once.
    void loadForSize(const QString& name, QSize target);

    // The decode of a codec image file that the load makes (file: the name in the file system's
    // bytes; bits and dither as decodeBits and decodeDither give them). Safe on any thread, so a
    // file can be decoded ahead; setDecodedImage then installs the result.
    static int decodeImageFile(codec::ImageFormat format, const std::string& file, int bits,
                               int dither, codec::Raster& out);
    // As setImageName(name), but with the decode already made by decodeImageFile (result and
    // raster) for the file as it is now: the same messages, picture, information and status. A
    // name that is not a codec image file, or no longer exists, is loaded the ordinary way.
    void setDecodedImage(const QString& name, int result, codec::Raster&& raster);
    // The same with the decode already made into a picture (rasterToImage of the raster).
    void setDecodedImage(const QString& name, int result, const QImage& image);
    // As the load of a codec image file whose reads fail, without touching the file: for a file
    // whose read was given up because it never returned (a dead network or FUSE mount), which
    // would block the window if read here. The same messages, an empty picture, and the
    // information of a file that cannot be read (its size unknown: -1).
    void setUnreadableImage(const QString& name);

    // Saves the picture in format: a non-empty FileName becomes DefSaveFilename first. Failures
    // are reported in message boxes only.
    void save(codec::ImageFormat format, const QString& FileName);
    // What save(format, ...) asks of the format's writer now.
    codec::WriteOptions writeOptions(codec::ImageFormat format) const;
    // As save, with the picture already encoded (encodeImage of the picture with
    // writeOptions(format), made off this thread): only the writing is left, with the same
    // messages when it fails.
    void saveEncoded(codec::ImageFormat format, const QString& FileName,
                     const codec::EncodedImage& encoded);

    // The picture loaded; changes through these tell the view.
    const pixmoor::Picture& picture() const { return picture_; }
    pixmoor::Picture& picture() { return picture_; }
    void setBitmap(const QImage& image);
    void clearPicture();
    void changed();

    // The depth and dither a load decodes with (loadResolutionBits of the read resolution and
    // the display's depth; 1 or 0).
    int displayBits() const;
    int decodeBits() const;
    int decodeDither() const;

    // Settings.
    const QString& DefSaveFilename() const { return defSaveFilename_; }
    void setDefSaveFilename(const QString& name) { defSaveFilename_ = name; }
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

private:
    // The table of picture types names the steps of each family.
    friend const PictureType* pictureTypeOf(const QString& fileName);

    void load(const QString& name, int jpegScale, QSize target);
    // The loads and information readers of the families of picture types (see file_types.h).
    void loadCodecImage(const PictureType& type, const QString& name, int jpegScale, QSize target);
    void loadDrawnPicture(const PictureType& type, const QString& name, int jpegScale,
                          QSize target);
    void loadResourceBitmap(const PictureType& type, const QString& name, int jpegScale,
                            QSize target);
    void loadMessageFile(const PictureType& type, const QString& name, int jpegScale, QSize target);
    bool readCodecInfo(const QString& FileName);
    bool readOwnInfo(const QString& FileName);
    bool readDrawnInfo(const QString& FileName);
    bool readResourceInfo(const QString& FileName);
    // The end of a codec image load: failure messages, the picture, the information.
    // readSize false: the file is not opened again for InfoSize, which becomes -1.
    void installDecoded(const QString& name, codec::ImageFormat format, int result,
                        const QImage& image, int infoResult, const codec::ImageInfo* info,
                        bool readSize = true);
    // The end of both saves: write(bits) gives the writer's result; failures are reported.
    template <typename Write>
    void saveWith(codec::ImageFormat format, const QString& fileName, Write&& write);
    bool loadResource(const QString& name, QImage& out);
    bool applyCodecInfo(const QString& fileName, int result, const codec::ImageInfo& info,
                        bool readSize = true);
    void showMessage(const QString& name, bool list);

    View* view_ = nullptr;
    pixmoor::Picture picture_;
    pixmoor::ImageInfo info_;
    bool drawnInfo_ = false;
    QString imageName_;
    QString loadStatus_;
    QString defSaveFilename_;
    bool imageDither_ = true;
    TLoadResolution readRes_ = lAutoMatic;
    TSaveResolution writeRes_ = sAutoMatic;
    TTiffCompression tifCompress_ = sNONE;
    int jpegQuality_ = 25;
    int jpegSmooth_ = 0;
    bool pngInterlaced_ = false;
};

} // namespace pixmoor
