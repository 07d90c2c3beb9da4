// Where the page itself ends beside an edge line found in the foreground:
// past its drop shadow, or past a book's cover and the edges of the page
// block under it, all of which differ from the lid as the page does.
//
// Coordinates: the straightened picture's pixels (the page turned by
// `angle`, as RotateImage turns it; image/Rotate.h), origin at the top-left
// pixel, x to the right, y downwards.
#pragma once

#include "image/Dib.h"
#include "trim/TrimRect.h"

// Moves the lines of the cut sides inwards to the page's own edge where the
// source shows one a little further in. Along every 4th scan line of a
// line's side (rows for left and right, columns for top and bottom),
// between the lines of its neighbouring sides, the source's grey level
// (blue, green and red averaged, read at the unturned point, bilinearly) is
// followed from the line inwards. With R = max(8, trunc(m / 20)), m the
// smaller of width and height, the page's level P is the median of the
// levels R to R + 15 pixels inside the line over all those scan lines; on a
// scan line that starts below P − max(8, P / 16) the page's edge is the
// first pixel from there on at or above that bound, pulled back to the
// steepest rise among the 3 pixels before it (the first pixel after that
// rise), when it lies within R. A side whose scan lines find such an edge
// on at least half of them, at offsets whose middle half spans 3 pixels or
// less, moves by their median when that is 2 pixels or more. Lines of sides
// not cut, and lines without votes, stay. `source` is 32-bit.
void FindPageEdges(ManuscriptLines& lines, const CutFlags& cut, const CDib& source, double angle);
