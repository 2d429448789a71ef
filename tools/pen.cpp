// The pen picture: a pencil lying on its side, lead at the lower left and
// eraser at the upper right, drawn pixel by pixel on a black background.
#include "tools/asset_files.hpp"

namespace make_assets {
namespace {

// One character per pixel of the rectangle x 13-50, y 6-35:
// E eraser, F metal ferrule, B painted body, W sharpened wood, L lead,
// '.' background.
constexpr int kArtX = 13;
constexpr int kArtY = 6;
constexpr const char* kArt[] = {
    "..............................EEEEEE..",  // y 6
    ".............................EEEEEEEE.",  // y 7
    "............................EEEEEEEEEE",  // y 8
    "..........................FFFFEEEEEEEE",  // y 9
    ".........................FFFFFFEEEEEEE",  // y 10
    "........................BBFFFFFFEEEE..",  // y 11
    ".......................BBBBFFFFFFEE...",  // y 12
    "......................BBBBBBFFFFFF....",  // y 13
    ".....................BBBBBBBBFFFF.....",  // y 14
    "...................BBBBBBBBBBBFF......",  // y 15
    "..................BBBBBBBBBBBB........",  // y 16
    ".................BBBBBBBBBBBB.........",  // y 17
    "................BBBBBBBBBBB...........",  // y 18
    "..............BBBBBBBBBBBB............",  // y 19
    ".............BBBBBBBBBBBB.............",  // y 20
    "............BBBBBBBBBBBB..............",  // y 21
    "...........BBBBBBBBBBB................",  // y 22
    ".........BBBBBBBBBBBB.................",  // y 23
    "........BBBBBBBBBBBB..................",  // y 24
    ".......BBBBBBBBBBBB...................",  // y 25
    "......WBBBBBBBBBB.....................",  // y 26
    ".....WWBBBBBBBBB......................",  // y 27
    "....WWWWBBBBBBB.......................",  // y 28
    "...WWWWWWBBBBB........................",  // y 29
    "...WWWWWWWBB..........................",  // y 30
    "..WWWWWWWW............................",  // y 31
    ".WWWWWWWW.............................",  // y 32
    ".LLWWWWW..............................",  // y 33
    "LLLWW.................................",  // y 34
    "LL....................................",  // y 35
};

Rgb colour_of(char part) {
    switch (part) {
        case 'E': return {255, 163, 177};
        case 'F': return {220, 220, 220};
        case 'B': return toy::kYellow;
        case 'W': return {245, 228, 156};
        case 'L': return {70, 70, 70};
        default: return toy::kBlack;
    }
}

}  // namespace

Picture make_pen() {
    Picture pen(56, 56, toy::kBlack);
    int y = kArtY;
    for (const char* row : kArt) {
        for (int i = 0; row[i] != '\0'; ++i) pen.at(kArtX + i, y) = colour_of(row[i]);
        ++y;
    }
    return pen;
}

}  // namespace make_assets
