// The one table of the codec library's error texts.
#include "imaging/codec/errors.h"

namespace pixmoor::codec {

const char* errorText(int code) {
    switch (code) {
    case Ok:
        return "Success";
    case FileNotFound:
        return "Cannot open the file";
    case ReadFailed:
        return "Error reading the file";
    case CreateFailed:
        return "Cannot create the file";
    case WriteFailed:
        return "Error writing the file (is the disk full?)";
    case NotThisFormat:
        return "The file is not of the expected image format";
    case Truncated:
        return "The image file is truncated";
    case Corrupt:
        return "The image file is corrupt";
    case Unsupported:
        return "This variant of the image format is not supported";
    case TooLarge:
        return "The image is too large";
    case OutOfMemory:
        return "Not enough memory for the image";
    case BadDepth:
        return "Invalid colour depth";
    case BadParameter:
        return "Invalid encoder parameter";
    case CompressionDepth:
        return "This compression needs a black and white image";
    case EmptyImage:
        return "There is no image to write";
    case EmptyFileName:
        return "No file name given";
    case NoScanner:
        return "No scanner is available";
    case ScanFailed:
        return "The scanner reported an error";
    case ScanCancelled:
        return "The scan was cancelled";
    case ScanBusy:
        return "A scan is already in progress";
    case Stopped:
        return "Decoding was stopped";
    default:
        return "Unknown codec error";
    }
}

} // namespace pixmoor::codec
