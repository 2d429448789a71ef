// Pieces the fuzz targets share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "assets/resources.hpp"

namespace fuzz {

using Bytes = std::vector<std::uint8_t>;

// Stops the run with a message: libFuzzer reports the abort as a crash and
// saves the input that caused it.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
}
inline void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

// The name every target registers its input under; the URL that opens it.
inline constexpr std::string_view kInputName = "input";
inline constexpr std::string_view kInputUrl = "incbin::input";

// Registers `file` as the one entry of the current (scoped) table. The
// vector holds exactly the file's bytes, so a read past its end is an
// out-of-bounds read that AddressSanitizer reports.
inline void register_input(const Bytes& file) {
    check(assets::register_embedded(kInputName, file.data(), std::int32_t(file.size())) == 1,
          "a fresh table accepts the input");
}

}  // namespace fuzz
