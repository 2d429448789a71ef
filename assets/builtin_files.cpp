// The five built-in files, assembled into the executable's read-only data
// with .incbin, so each name has the address of its bytes and their exact
// length without any copy at start-up. The build lists the files as
// dependencies of this source, so changing one rebuilds it.
#include <cstdint>

#include "assets/resources.hpp"

#ifndef TWINDIAL_ASSET_DIR
#error "TWINDIAL_ASSET_DIR must name the folder of the built-in files"
#endif

#if defined(_WIN32)
#define TWINDIAL_RODATA ".section .rdata,\"dr\"\n"
#else
#define TWINDIAL_RODATA ".section .rodata\n"
#endif

// Defines `<sym>_data` (the bytes) and `<sym>_size` (their count, a 32-bit
// value computed by the assembler).
#define TWINDIAL_INCBIN(sym, file)                                   \
    __asm__(TWINDIAL_RODATA                                          \
            ".balign 16\n"                                           \
            "twindial_" #sym "_data:\n"                              \
            ".incbin \"" TWINDIAL_ASSET_DIR "/" file "\"\n"          \
            "twindial_" #sym "_end:\n"                               \
            ".balign 4\n"                                            \
            "twindial_" #sym "_size:\n"                              \
            ".long twindial_" #sym "_end - twindial_" #sym "_data\n" \
            ".text\n");                                              \
    extern "C" const std::uint8_t twindial_##sym##_data[];           \
    extern "C" const std::int32_t twindial_##sym##_size

TWINDIAL_INCBIN(frame, "frame.png");
TWINDIAL_INCBIN(pixel, "pixel.bmp");
TWINDIAL_INCBIN(backdrop, "backdrop.bmp");
TWINDIAL_INCBIN(shake, "shake.wav");
TWINDIAL_INCBIN(pen, "pen.png");

namespace assets {

void register_builtin_files() {
    register_embedded("frame.png", twindial_frame_data, twindial_frame_size);
    register_embedded("pixel.bmp", twindial_pixel_data, twindial_pixel_size);
    register_embedded("backdrop.bmp", twindial_backdrop_data, twindial_backdrop_size);
    register_embedded("shake.wav", twindial_shake_data, twindial_shake_size);
    register_embedded("pen.png", twindial_pen_data, twindial_pen_size);
}

}  // namespace assets
