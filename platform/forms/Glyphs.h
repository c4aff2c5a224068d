// Pictures the toolkit draws for itself with QPainter: button glyphs (OK, Cancel, help, close),
// the navigator's arrows and the frames of the search animation.
#pragma once

#include <QPixmap>

class QPainter;
class QRectF;

namespace kv {

// Up and Down point up and down, for buttons stacked one above the other.
enum class TGlyph { Ok, Cancel, Help, Close, First, Prior, Next, Last, Refresh, Up, Down };

// The glyph at Size × Size pixels (device-independent), transparent around the drawing.
QPixmap DrawGlyph(TGlyph G, int Size = 16);

// One frame (0 ≤ Frame < FrameCount) of the search animation into Area: a magnifier moving over
// a little table, the rows under its lens picked out.
void DrawSearchFrame(QPainter& P, const QRectF& Area, int Frame, int FrameCount);

}  // namespace kv
