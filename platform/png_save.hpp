// PNG encoding of a grabbed Screen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/screen.hpp"

namespace platform {

// The Screen's pixels with alpha: blue, green, red, alpha per pixel in
// memory, top row first, alpha 255 everywhere.
struct Pixmap {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> pixels;  // 0xAARRGGBB
};

// Copies the rectangle (x, y, width, height) of the Screen, setting alpha
// to 255. Only the part that lies on the Screen is copied: the Pixmap is
// that part's size, empty when nothing of the rectangle is on the Screen.
Pixmap grab_screen(const Screen& screen, int x, int y, int width, int height);

struct SaveResult {
    bool ok = false;
    std::string path;    // the path as opened, "/" as the folder separator
    std::string reason;  // why the file was not saved; empty when it was
};

// Writes the Pixmap to `path` as a PNG stream: compression level 0, colour
// type 6, 8 bits, no interlace, IHDR, IDAT (8192-byte chunks) and IEND only.
// A backslash in `path` is a folder separator. The stream goes through
// file_system() into a new temporary file of a random name beside `path`
// (create_temporary: nothing already there is ever written through), which
// replaces `path` only once it is complete and on the disk; on any failure
// the previous file is left as it was and the temporary file is removed. No
// folder is created. A write that fails also prints "Error writing to
// stream" on standard error.
SaveResult save_png(const Pixmap& pixmap, const std::string& path);

}  // namespace platform
