// Internal to the codec library: each format's entry points, which the format table lists.
// Every format has exactly one decoder (rows into a sink) and one information reader; the public
// readX of codec.h are that decoder into a raster.
#pragma once

#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"

namespace pixmoor::codec::detail {

int infoBmp(const std::string& file, ImageInfo& out);
int infoPcx(const std::string& file, ImageInfo& out);
int infoJpeg(const std::string& file, ImageInfo& out);
int infoPng(const std::string& file, ImageInfo& out);
int infoGif(const std::string& file, ImageInfo& out);
int infoTiff(const std::string& file, ImageInfo& out);

int decodeBmp(const std::string& file, const DecodeOptions& options, RowSink& sink);
int decodePcxFile(const std::string& file, const DecodeOptions& options, RowSink& sink);
int decodeJpeg(const std::string& file, const DecodeOptions& options, RowSink& sink);
int decodePng(const std::string& file, const DecodeOptions& options, RowSink& sink);
int decodeGif(const std::string& file, const DecodeOptions& options, RowSink& sink);
int decodeTiffFile(const std::string& file, const DecodeOptions& options, RowSink& sink);

} // namespace pixmoor::codec::detail
