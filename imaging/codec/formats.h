// Internal to the codec library: the per-format information readers that imageInfo() dispatches
// to once it has recognised a file's signature. Each fills `out` and returns a result code.
#pragma once

#include "imaging/codec/codec.h"

namespace pixmoor::codec::detail {

int infoBmp(const std::string& file, ImageInfo& out);
int infoPcx(const std::string& file, ImageInfo& out);
int infoJpeg(const std::string& file, ImageInfo& out);
int infoPng(const std::string& file, ImageInfo& out);
int infoGif(const std::string& file, ImageInfo& out);
int infoTiff(const std::string& file, ImageInfo& out);

} // namespace pixmoor::codec::detail
