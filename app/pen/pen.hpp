// The pen: a point on the Screen that stamps the 3x3 brush each pass, moves
// by the held arrow keys, shakes the toy on Backspace and takes the
// snapshot on Enter.
#pragma once

#include <cstdint>

namespace app {

class T_SRCPixel {
public:
    T_SRCPixel() { New(); }
    ~T_SRCPixel() { Delete(); }

    // Column and row of the brush's top-left pixel; unbounded, on or off
    // the Screen.
    std::int32_t X = 0;
    std::int32_t Y = 0;

    std::int32_t New();            // places the pen at (400, 300)
    std::int32_t Delete();         // nothing to release
    std::int32_t T_SRCSnap();      // snapshot on Enter
    std::int32_t T_SRCPixMoves();  // one pixel per held arrow key
    std::int32_t T_SRCSketch();    // brush stamp; shake on Backspace
};

}  // namespace app
