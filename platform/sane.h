// The SANE scanner library behind RAII: a session, the devices it finds, an open device with its
// options, and the reading of one image (every frame of it) into a codec raster.
#pragma once

#include "imaging/codec/raster.h"

#include <sane/sane.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pixmoor::sane {

struct DeviceInfo {
    std::string name; // what sane_open takes, "test:0"
    std::string vendor;
    std::string model;
    std::string type;
};

// The status as a person reads it ("Device busy", "Invalid argument").
std::string statusText(SANE_Status status);

// One use of the library: sane_init when created, sane_exit when the last one ends (sessions
// nest). The library and its drivers read their configuration with "/" as the working directory:
// without SANE_CONFIG_DIR they look in the working directory first, which is the browsed folder.
class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    SANE_Status status() const { return status_; }
    bool ok() const { return status_ == SANE_STATUS_GOOD; }

    // Every device the drivers find, network scanners included.
    SANE_Status devices(std::vector<DeviceInfo>& out) const;

private:
    SANE_Status status_ = SANE_STATUS_GOOD;
};

class Device {
public:
    // Opens the device named (within a live session); on failure `out` stays empty.
    static SANE_Status open(const std::string& name, std::unique_ptr<Device>& out);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    SANE_Handle handle() const { return handle_; }
    const std::string& name() const { return name_; }

    // Options, by index (0 is the option count itself) or by their well-known name.
    int optionCount() const;
    const SANE_Option_Descriptor* option(int index) const;
    int findOption(std::string_view name) const; // -1 when the device has none

    // Raw access: the buffer holds the option's size in bytes.
    SANE_Status getValue(int index, void* buffer) const;
    SANE_Status setValue(int index, void* value, SANE_Int* info = nullptr);
    SANE_Status press(int index, SANE_Int* info = nullptr); // a button option

    // Single words (BOOL, INT, FIXED) and strings.
    SANE_Status getWord(int index, SANE_Word& value) const;
    SANE_Status setWord(int index, SANE_Word value, SANE_Int* info = nullptr);
    SANE_Status getString(int index, std::string& value) const;
    SANE_Status setString(int index, const std::string& value, SANE_Int* info = nullptr);

    // Dots per inch across (or down) from "resolution", "x-resolution" or "y-resolution";
    // 0 when the device does not say.
    double resolution(bool vertical) const;

private:
    Device(SANE_Handle handle, std::string name) : handle_(handle), name_(std::move(name)) {}
    SANE_Handle handle_;
    std::string name_;
};

// Whether an option can be shown or set: an ordinary value the frontend may change now.
bool settable(const SANE_Option_Descriptor& option);

// Collects the frames of one image into a raster. Grey frames give an 8-bit grey raster (1-bit
// line art a black-and-white one; a set bit is black, in colour too); colour frames, one RGB frame
// or the red, green and blue frames of a three-pass scanner in any order, a 24-bit one. 16-bit
// samples (in the machine's byte order, as SANE sends them) keep their high byte. A frame of
// unknown length (a hand scanner's lines = -1) grows until the data ends. Results are codec result
// codes.
class ImageAssembler {
public:
    int beginFrame(const SANE_Parameters& frame);
    int addData(const std::uint8_t* data, std::size_t size);
    void endFrame();
    // True while the frames so far do not make the whole image.
    bool needsMoreFrames() const { return moreFrames_; }
    // Bytes the whole image should take (0 while unknown), for a progress bar.
    std::int64_t expectedBytes() const { return expected_; }
    // Hands over the image; Corrupt when no whole line arrived.
    int take(codec::Raster& out);

private:
    void storeLine(const std::uint8_t* line, int y);
    int ensureRows(int rows);

    enum class Kind { None, Gray, Rgb } kind_ = Kind::None;
    SANE_Parameters frame_{};
    int width_ = 0;
    int rowsKnown_ = -1; // lines of the first frame, -1 when the driver does not know them
    int rowsSeen_ = 0;   // most lines any frame delivered
    int rowInFrame_ = 0;
    bool moreFrames_ = false;
    std::int64_t expected_ = 0;
    std::vector<std::uint8_t> line_;
    std::size_t lineFill_ = 0;
    codec::Raster raster_;
};

// How far a scan is: written by the reading thread, read by the window's progress bar.
struct ScanProgress {
    std::atomic<std::int64_t> bytes{0};
    std::atomic<std::int64_t> expected{0}; // 0 while unknown
};

// Reads one image from an open device whose options are set: sane_start, every frame, and
// sane_cancel at the end. Stops with ScanCancelled soon after `cancel` turns true. On failure
// `detail` gets the driver's status text. Runs on any one thread at a time.
int readImage(Device& device, const std::atomic<bool>& cancel, ScanProgress& progress,
              codec::Raster& out, std::string& detail);

} // namespace pixmoor::sane
