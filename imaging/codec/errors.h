// Result codes of the codec library and their texts. Every operation returns an int: 1 or more is
// success, anything else is one of the codes below, whose text comes from errorText().
#pragma once

namespace pixmoor::codec {

enum Result : int {
    Ok = 1,
    FileNotFound = -1,      // the file cannot be opened for reading
    ReadFailed = -2,        // an I/O error while reading
    CreateFailed = -3,      // the file cannot be created or opened for writing
    WriteFailed = -4,       // an I/O error while writing (a full disk, for example)
    NotThisFormat = -5,     // the signature or header is not that of the expected format
    Truncated = -6,         // the file ends before the image data does
    Corrupt = -7,           // inconsistent header or compressed data
    Unsupported = -8,       // a valid file using a variant we do not read
    TooLarge = -9,          // dimensions above the library's limits
    OutOfMemory = -10,      // an allocation failed
    BadDepth = -11,         // a bits value other than 0, 1, 4, 8 or 24
    BadParameter = -12,     // quality, smoothing, compression or interlace out of range
    CompressionDepth = -13, // CCITT compression asked for more than 1 bit per pixel
    EmptyImage = -14,       // nothing to write
    EmptyFileName = -15,    // no file name given
    NoScanner = -16,        // no scanner source is available
    ScanFailed = -17,       // the scanner reported an error
    ScanCancelled = -18,    // the user cancelled the scan
    ScanBusy = -19,         // a scan or source selection is already running
    Stopped = -20,          // the receiver of a row-by-row decode asked to stop
};

// The text of a result code; an unknown code gets a generic text naming the number.
const char* errorText(int code);

inline bool succeeded(int result) {
    return result >= 1;
}

} // namespace pixmoor::codec
