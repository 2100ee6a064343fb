#pragma once

class QPainter;

// The program's icon, drawn on a 32 by 32 canvas; scale the painter for other sizes. The
// window icon and the installed icon files (SVG and PNG) all come from this one drawing.
constexpr int IconCanvas = 32;
void PaintIcon(QPainter& painter);
