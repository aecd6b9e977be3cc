// The SANE scanner library behind RAII, and the assembly of its frames into one raster.
#include "platform/sane.h"

#include "imaging/codec/errors.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace pixmoor::sane {

namespace {

int sessionDepth = 0;
SANE_Status sessionStatus = SANE_STATUS_GOOD;

// Makes "/" the working directory for its lifetime and then goes back, so that the library
// never reads dll.conf or a driver's configuration from the folder the user browses.
class RootDirectory {
public:
    RootDirectory() {
        fd_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ >= 0 && ::chdir("/") != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~RootDirectory() {
        if (fd_ < 0) return;
        // Going back cannot fail for a directory still open; if it ever does, "/" stays.
        if (::fchdir(fd_) != 0) {
        }
        ::close(fd_);
    }
    RootDirectory(const RootDirectory&) = delete;
    RootDirectory& operator=(const RootDirectory&) = delete;

private:
    int fd_ = -1;
};

bool isWordType(SANE_Value_Type type) {
    return type == SANE_TYPE_BOOL || type == SANE_TYPE_INT || type == SANE_TYPE_FIXED;
}

constexpr std::size_t kReadBuffer = 256 * 1024;

} // namespace

std::string statusText(SANE_Status status) {
    const char* text = sane_strstatus(status);
    return text ? text : "Unknown status " + std::to_string(int(status));
}

// ---- session ---------------------------------------------------------------------------------

Session::Session() {
    if (sessionDepth++ > 0) {
        status_ = sessionStatus;
        return;
    }
    RootDirectory root;
    SANE_Int version = 0;
    sessionStatus = sane_init(&version, nullptr);
    status_ = sessionStatus;
}

Session::~Session() {
    if (--sessionDepth > 0) return;
    if (sessionStatus == SANE_STATUS_GOOD) sane_exit();
}

SANE_Status Session::devices(std::vector<DeviceInfo>& out) const {
    out.clear();
    if (!ok()) return status_;
    RootDirectory root;
    const SANE_Device** list = nullptr;
    const SANE_Status status = sane_get_devices(&list, SANE_FALSE);
    if (status != SANE_STATUS_GOOD) return status;
    for (; list && *list; ++list) {
        const SANE_Device* d = *list;
        if (!d->name) continue;
        out.push_back({d->name, d->vendor ? d->vendor : "", d->model ? d->model : "",
                       d->type ? d->type : ""});
    }
    return SANE_STATUS_GOOD;
}

// ---- device ----------------------------------------------------------------------------------

SANE_Status Device::open(const std::string& name, std::unique_ptr<Device>& out) {
    out.reset();
    RootDirectory root;
    SANE_Handle handle = nullptr;
    const SANE_Status status = sane_open(name.c_str(), &handle);
    if (status != SANE_STATUS_GOOD) return status;
    if (!handle) return SANE_STATUS_INVAL;
    out.reset(new Device(handle, name));
    // Drivers expect every descriptor to be fetched before an option is used.
    for (int i = 0, n = out->optionCount(); i < n; ++i) (void)out->option(i);
    return SANE_STATUS_GOOD;
}

Device::~Device() {
    sane_close(handle_);
}

int Device::optionCount() const {
    const SANE_Option_Descriptor* first = sane_get_option_descriptor(handle_, 0);
    if (!first || first->type != SANE_TYPE_INT || first->size < SANE_Int(sizeof(SANE_Int)))
        return 0;
    SANE_Int count = 0;
    if (sane_control_option(handle_, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
        return 0;
    return std::clamp(count, 0, 10000);
}

const SANE_Option_Descriptor* Device::option(int index) const {
    return sane_get_option_descriptor(handle_, index);
}

int Device::findOption(std::string_view name) const {
    for (int i = 1, n = optionCount(); i < n; ++i) {
        const SANE_Option_Descriptor* d = option(i);
        if (d && d->name && name == d->name) return i;
    }
    return -1;
}

SANE_Status Device::getValue(int index, void* buffer) const {
    return sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, buffer, nullptr);
}

SANE_Status Device::setValue(int index, void* value, SANE_Int* info) {
    SANE_Int flags = 0;
    const SANE_Status status =
        sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, value, &flags);
    if (info) *info = flags;
    return status;
}

SANE_Status Device::press(int index, SANE_Int* info) {
    return setValue(index, nullptr, info);
}

SANE_Status Device::getWord(int index, SANE_Word& value) const {
    const SANE_Option_Descriptor* d = option(index);
    if (!d || !isWordType(d->type) || d->size < SANE_Int(sizeof(SANE_Word)))
        return SANE_STATUS_INVAL;
    std::vector<SANE_Word> words(std::size_t(d->size) / sizeof(SANE_Word));
    const SANE_Status status = getValue(index, words.data());
    if (status == SANE_STATUS_GOOD) value = words[0];
    return status;
}

SANE_Status Device::setWord(int index, SANE_Word value, SANE_Int* info) {
    const SANE_Option_Descriptor* d = option(index);
    if (!d || !isWordType(d->type) || d->size != SANE_Int(sizeof(SANE_Word)))
        return SANE_STATUS_INVAL;
    return setValue(index, &value, info);
}

SANE_Status Device::getString(int index, std::string& value) const {
    const SANE_Option_Descriptor* d = option(index);
    if (!d || d->type != SANE_TYPE_STRING || d->size <= 0) return SANE_STATUS_INVAL;
    std::vector<char> buffer(std::size_t(d->size) + 1, '\0');
    const SANE_Status status = getValue(index, buffer.data());
    if (status == SANE_STATUS_GOOD) value = buffer.data(); // stops at the first NUL
    return status;
}

SANE_Status Device::setString(int index, const std::string& value, SANE_Int* info) {
    const SANE_Option_Descriptor* d = option(index);
    if (!d || d->type != SANE_TYPE_STRING || d->size <= 0) return SANE_STATUS_INVAL;
    if (value.size() >= std::size_t(d->size)) return SANE_STATUS_INVAL;
    std::vector<char> buffer(std::size_t(d->size), '\0');
    std::memcpy(buffer.data(), value.data(), value.size());
    return setValue(index, buffer.data(), info);
}

double Device::resolution(bool vertical) const {
    for (const char* name : {vertical ? "y-resolution" : "x-resolution", "resolution"}) {
        const int index = findOption(name);
        if (index < 0) continue;
        const SANE_Option_Descriptor* d = option(index);
        if (!d || !SANE_OPTION_IS_ACTIVE(d->cap)) continue;
        SANE_Word value = 0;
        if (getWord(index, value) != SANE_STATUS_GOOD) continue;
        const double dpi = d->type == SANE_TYPE_FIXED ? SANE_UNFIX(value) : double(value);
        if (dpi > 0) return dpi;
    }
    return 0;
}

bool settable(const SANE_Option_Descriptor& option) {
    return option.type != SANE_TYPE_GROUP && SANE_OPTION_IS_ACTIVE(option.cap) &&
           SANE_OPTION_IS_SETTABLE(option.cap);
}

// ---- frames into a raster --------------------------------------------------------------------

int ImageAssembler::beginFrame(const SANE_Parameters& p) {
    const bool plane =
        p.format == SANE_FRAME_RED || p.format == SANE_FRAME_GREEN || p.format == SANE_FRAME_BLUE;
    if (p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB && !plane)
        return codec::Unsupported;
    if (p.depth != 1 && p.depth != 8 && p.depth != 16) return codec::Unsupported;
    if (p.pixels_per_line <= 0 || p.lines == 0 || p.lines < -1) return codec::Corrupt;
    if (p.pixels_per_line > limits::kMaxDimension || p.lines > limits::kMaxDimension)
        return codec::TooLarge;
    const std::int64_t channels = p.format == SANE_FRAME_RGB ? 3 : 1;
    const std::int64_t needed = (std::int64_t(p.pixels_per_line) * channels * p.depth + 7) / 8;
    // A driver may pad its lines, but not beyond reason.
    if (p.bytes_per_line < needed || p.bytes_per_line > needed + (1 << 20)) return codec::Corrupt;

    const Kind kind = p.format == SANE_FRAME_GRAY ? Kind::Gray : Kind::Rgb;
    if (kind_ == Kind::None) {
        const int bits = kind == Kind::Rgb ? 24 : p.depth == 1 ? 1 : 8;
        if (p.lines > 0) {
            const int rc = codec::allocateRaster(raster_, p.pixels_per_line, p.lines, bits);
            if (rc != codec::Ok) return rc;
        } else {
            raster_ = codec::Raster{};
            raster_.width = p.pixels_per_line;
            raster_.bits = bits;
            raster_.stride =
                (std::size_t(p.pixels_per_line) * (bits == 24 ? 3 : 1) + 3) & ~std::size_t(3);
        }
        if (bits == 1) {
            raster_.palette = {codec::Rgb{0, 0, 0}, codec::Rgb{255, 255, 255}};
        } else if (bits == 8) {
            raster_.palette.resize(256);
            for (int i = 0; i < 256; ++i) {
                const auto v = std::uint8_t(i);
                raster_.palette[std::size_t(i)] = codec::Rgb{v, v, v};
            }
        }
        kind_ = kind;
        width_ = p.pixels_per_line;
        rowsKnown_ = p.lines;
        expected_ = p.lines > 0 ? std::int64_t(p.bytes_per_line) * p.lines * (plane ? 3 : 1) : 0;
    } else {
        // Only the planes of a three-pass scan come one after the other, all as wide.
        const bool previousPlane = frame_.format == SANE_FRAME_RED ||
                                   frame_.format == SANE_FRAME_GREEN ||
                                   frame_.format == SANE_FRAME_BLUE;
        if (!plane || !previousPlane || p.pixels_per_line != width_) return codec::Corrupt;
    }
    frame_ = p;
    rowInFrame_ = 0;
    try {
        line_.assign(std::size_t(p.bytes_per_line), 0);
    } catch (const std::bad_alloc&) {
        return codec::OutOfMemory;
    }
    lineFill_ = 0;
    moreFrames_ = plane && !p.last_frame;
    return codec::Ok;
}

int ImageAssembler::ensureRows(int rows) {
    if (rows <= raster_.height) return codec::Ok;
    if (rows > limits::kMaxDimension || std::int64_t(width_) * rows > limits::kMaxPixels)
        return codec::TooLarge;
    const std::size_t size = raster_.stride * std::size_t(rows);
    try {
        if (raster_.pixels.capacity() < size)
            raster_.pixels.reserve(std::max(size, raster_.pixels.capacity() / 2 * 3));
        raster_.pixels.resize(size, 0);
    } catch (const std::bad_alloc&) {
        return codec::OutOfMemory;
    }
    raster_.height = rows;
    return codec::Ok;
}

void ImageAssembler::storeLine(const std::uint8_t* line, int y) {
    std::uint8_t* out = raster_.row(y);
    const int depth = frame_.depth;
    // Sample i of the line as 8 bits. A set bit of 1-bit data is black, in colour frames too
    // (no light on that sample), as in line art.
    const auto sample = [line, depth](std::size_t i) -> std::uint8_t {
        if (depth == 8) return line[i];
        if (depth == 16) {
            std::uint16_t v;
            std::memcpy(&v, line + 2 * i, 2);
            return std::uint8_t(v >> 8);
        }
        return ((line[i >> 3] >> (7 - (i & 7))) & 1) ? 0 : 255;
    };
    const std::size_t w = std::size_t(width_);
    switch (frame_.format) {
    case SANE_FRAME_GRAY:
        if (raster_.bits == 1) {
            for (std::size_t x = 0; x < w; ++x) out[x] = sample(x) ? 1 : 0; // palette: black, white
        } else if (depth == 8) {
            std::memcpy(out, line, w);
        } else {
            for (std::size_t x = 0; x < w; ++x) out[x] = sample(x);
        }
        break;
    case SANE_FRAME_RGB:
        if (depth == 8)
            std::memcpy(out, line, 3 * w);
        else
            for (std::size_t i = 0; i < 3 * w; ++i) out[i] = sample(i);
        break;
    default: {
        const std::size_t c = frame_.format == SANE_FRAME_RED     ? 0
                              : frame_.format == SANE_FRAME_GREEN ? 1
                                                                  : 2;
        for (std::size_t x = 0; x < w; ++x) out[3 * x + c] = sample(x);
        break;
    }
    }
}

int ImageAssembler::addData(const std::uint8_t* data, std::size_t size) {
    if (kind_ == Kind::None || line_.empty()) return codec::Corrupt;
    const std::size_t lineSize = line_.size();
    while (size > 0) {
        const std::uint8_t* whole = nullptr;
        if (lineFill_ == 0 && size >= lineSize) { // a whole line in place: no copy
            whole = data;
            data += lineSize;
            size -= lineSize;
        } else {
            const std::size_t take = std::min(size, lineSize - lineFill_);
            std::memcpy(line_.data() + lineFill_, data, take);
            lineFill_ += take;
            data += take;
            size -= take;
            if (lineFill_ < lineSize) break;
            lineFill_ = 0;
            whole = line_.data();
        }
        const int y = rowInFrame_++;
        if (rowsKnown_ > 0 && y >= rowsKnown_) continue; // more lines than announced: dropped
        const int rc = ensureRows(y + 1);
        if (rc != codec::Ok) return rc;
        storeLine(whole, y);
        rowsSeen_ = std::max(rowsSeen_, y + 1);
    }
    return codec::Ok;
}

void ImageAssembler::endFrame() {
    lineFill_ = 0; // a part line at the end is dropped
}

int ImageAssembler::take(codec::Raster& out) {
    out = codec::Raster{};
    if (kind_ == Kind::None || rowsSeen_ <= 0) return codec::Corrupt;
    // A scan that ended early keeps the lines it delivered.
    if (rowsSeen_ < raster_.height) {
        raster_.height = rowsSeen_;
        raster_.pixels.resize(raster_.stride * std::size_t(rowsSeen_));
        raster_.pixels.shrink_to_fit();
    }
    out = std::move(raster_);
    raster_ = codec::Raster{};
    kind_ = Kind::None;
    return codec::Ok;
}

// ---- reading ---------------------------------------------------------------------------------

namespace {

// A SANE failure as a codec result, its text kept for the detail line.
int scanFailure(SANE_Status status, std::string& detail) {
    detail = statusText(status);
    return status == SANE_STATUS_CANCELLED ? codec::ScanCancelled : codec::ScanFailed;
}

// Ends the device's scan on every way out of readImage.
class ScanEnd {
public:
    explicit ScanEnd(SANE_Handle handle) : handle_(handle) {}
    ~ScanEnd() { sane_cancel(handle_); }
    ScanEnd(const ScanEnd&) = delete;
    ScanEnd& operator=(const ScanEnd&) = delete;

private:
    SANE_Handle handle_;
};

} // namespace

int readImage(Device& device, const std::atomic<bool>& cancel, ScanProgress& progress,
              codec::Raster& out, std::string& detail) {
    out = codec::Raster{};
    detail.clear();
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(kReadBuffer);
    } catch (const std::bad_alloc&) {
        return codec::OutOfMemory;
    }
    const SANE_Handle h = device.handle();
    ImageAssembler assembler;
    ScanEnd end(h);
    progress.bytes = 0;
    progress.expected = 0;
    std::int64_t before = 0; // bytes of the frames already read
    for (;;) {
        if (cancel) return codec::ScanCancelled;
        SANE_Status status = sane_start(h);
        if (status != SANE_STATUS_GOOD) return scanFailure(status, detail);
        SANE_Parameters parameters{};
        status = sane_get_parameters(h, &parameters);
        if (status != SANE_STATUS_GOOD) return scanFailure(status, detail);
        int rc = assembler.beginFrame(parameters);
        if (rc != codec::Ok) {
            detail = "The scanner sent an image this program cannot take in";
            return rc;
        }
        if (assembler.expectedBytes() > 0) progress.expected = assembler.expectedBytes();
        std::int64_t inFrame = 0;
        for (;;) {
            if (cancel) return codec::ScanCancelled;
            SANE_Int length = 0;
            status = sane_read(h, buffer.data(), SANE_Int(buffer.size()), &length);
            if (status == SANE_STATUS_EOF) break;
            if (status != SANE_STATUS_GOOD) return scanFailure(status, detail);
            if (length < 0 || std::size_t(length) > buffer.size()) {
                detail = "The scanner driver returned a bad length";
                return codec::ScanFailed;
            }
            if (length == 0) {
                std::this_thread::yield();
                continue;
            }
            rc = assembler.addData(buffer.data(), std::size_t(length));
            if (rc != codec::Ok) return rc;
            inFrame += length;
            progress.bytes = before + inFrame;
        }
        before += inFrame;
        assembler.endFrame();
        if (!assembler.needsMoreFrames()) break;
    }
    const int rc = assembler.take(out);
    if (rc != codec::Ok) detail = "The scanner delivered no image";
    return rc;
}

} // namespace pixmoor::sane
