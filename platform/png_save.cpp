// Screen grab and PNG encoding of the snapshot.
#include "platform/png_save.hpp"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/files.hpp"

namespace platform {

Pixmap grab_screen(const Screen& screen, int x, int y, int width, int height) {
    const std::int64_t left = std::max<std::int64_t>(x, 0);
    const std::int64_t top = std::max<std::int64_t>(y, 0);
    const std::int64_t right = std::min<std::int64_t>(std::int64_t{x} + width, Screen::kWidth);
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{y} + height, Screen::kHeight);
    Pixmap pixmap;
    if (left >= right || top >= bottom) return pixmap;
    pixmap.width = std::int32_t(right - left);
    pixmap.height = std::int32_t(bottom - top);
    pixmap.pixels.resize(std::size_t(pixmap.width) * std::size_t(pixmap.height));
    std::uint32_t* out = pixmap.pixels.data();
    for (std::int64_t row = top; row < bottom; ++row) {
        const std::uint32_t* in = screen.row(int(row)) + left;
        for (std::int32_t i = 0; i < pixmap.width; ++i) *out++ = in[i] | 0xFF000000u;
    }
    return pixmap;
}

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

// Everything the libpng callbacks touch. libpng reports errors by longjmp,
// which skips destructors, so this holds plain data only; its owners live
// in save_png, outside the jump.
struct Sink {
    OutputFile* file;
    unsigned char* buffer;  // kBufferSize bytes
    std::size_t used;
    bool write_failed;
    char message[128];  // the encoder's error text
};

bool flush_sink(Sink& sink) {
    const std::size_t size = sink.used;
    sink.used = 0;
    if (size == 0 || sink.file->write(sink.buffer, size)) return true;
    sink.write_failed = true;
    return false;
}

void on_error(png_structp png, png_const_charp message) {
    auto* sink = static_cast<Sink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

void on_write(png_structp png, png_bytep data, png_size_t size) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    while (size > 0) {
        if (sink->used == kBufferSize && !flush_sink(*sink)) png_error(png, "Error writing to stream");
        const std::size_t n = std::min(size, kBufferSize - sink->used);
        std::memcpy(sink->buffer + sink->used, data, n);
        sink->used += n;
        data += n;
        size -= n;
    }
}

void on_flush(png_structp) {}

// Encodes `rows` (blue, green, red, alpha per pixel) into the sink; false
// on an encoder or write error. Nothing here has a destructor.
bool encode(Sink* sink, png_bytep* rows, png_uint_32 width, png_uint_32 height) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, sink, on_error, on_warning);
    if (png == nullptr) {
        std::snprintf(sink->message, sizeof sink->message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(sink->message, sizeof sink->message, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, sink, on_write, on_flush);
    png_set_compression_level(png, 0);
    png_set_compression_buffer_size(png, 8192);  // the IDAT chunk size
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_BGR, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

SaveResult save_png(const Pixmap& pixmap, const std::string& path) {
    SaveResult result;
    result.path = path;
    std::replace(result.path.begin(), result.path.end(), '\\', '/');
    if (pixmap.width <= 0 || pixmap.height <= 0 ||
        pixmap.pixels.size() != std::size_t(pixmap.width) * std::size_t(pixmap.height)) {
        result.reason = "there is no picture to save";
        return result;
    }

    // The temporary file's name is random and says nothing to a person:
    // reasons name its folder instead.
    const std::string folder = folder_of(result.path);
    FileSystem& files = file_system();
    std::string temp;
    std::unique_ptr<OutputFile> file = create_temporary(files, result.path, temp);
    if (file == nullptr) {
        result.reason = "cannot create a file in " + folder + ": " + files.last_error();
        return result;
    }

    // Pixmap pixels are 0xAARRGGBB, in memory blue, green, red, alpha; the
    // BGR transform puts red first in the file. libpng only reads the rows.
    std::vector<png_bytep> rows(std::size_t(pixmap.height));
    auto* first = reinterpret_cast<png_bytep>(const_cast<std::uint32_t*>(pixmap.pixels.data()));
    for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = first + y * std::size_t(pixmap.width) * 4;
    std::vector<unsigned char> buffer(kBufferSize);
    Sink sink{file.get(), buffer.data(), 0, false, {}};

    std::string failure;
    if (!encode(&sink, rows.data(), png_uint_32(pixmap.width), png_uint_32(pixmap.height)) ||
        !flush_sink(sink)) {
        if (sink.write_failed) {
            std::fputs("Error writing to stream\n", stderr);
            std::fflush(stderr);
            failure = "cannot write to " + folder + ": " + files.last_error();
        } else {
            failure = std::string("the PNG encoder failed: ") + sink.message;
        }
    } else if (!file->close()) {
        failure = "cannot finish writing to " + folder + ": " + files.last_error();
    } else if (!files.replace(temp, result.path)) {
        failure = "cannot replace " + result.path + ": " + files.last_error();
    }
    if (!failure.empty()) {
        file.reset();  // closes it if it is still open
        files.remove(temp);
        result.reason = failure;
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace platform
