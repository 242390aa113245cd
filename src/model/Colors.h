#pragma once

#include <QString>

namespace chenglan {

// Colours are 24-bit values: red + 256 * green + 65536 * blue.
inline constexpr int ColorWhite = 16777215;
inline constexpr int ColorBlack = 0;

// A league colour text ("#009900", "'#FF0000'", "ff00aa") to a colour value.
// "#" and "'" are removed, outer blanks trimmed, the first six characters
// read as hexadecimal pairs red, green, blue; pairs that are missing count as
// 0, so an empty text is black. A character that is not a hexadecimal digit,
// or a last pair cut in half, throws StepFailure: the caller leaves the cell
// at its default colour.
int HexColorToRgb(const QString &text);

} // namespace chenglan
