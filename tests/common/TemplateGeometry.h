// Where a template's controls belong in pixels: dialog units through the base units of the
// dialog font, rounded as the system's MulDiv does. Every backing's geometry check uses it.
#pragma once

#include <cstdlib>
#include <string>

#include "ui/DialogTemplate.h"
#include "ui/UiHost.h"

namespace geometry {

inline int PixelsX(int units, const BaseUnits& bu) {
    return (2 * units * bu.x + 4) / 8;
}
inline int PixelsY(int units, const BaseUnits& bu) {
    return (2 * units * bu.y + 8) / 16;
}

// The dialog's client area.
inline Rect WindowPixels(const DialogTemplate& t, const BaseUnits& bu) {
    return {0, 0, PixelsX(t.cx, bu), PixelsY(t.cy, bu)};
}

inline Rect ControlPixels(const ControlTemplate& c, const BaseUnits& bu) {
    return {PixelsX(c.x, bu), PixelsY(c.y, bu), PixelsX(c.x + c.cx, bu), PixelsY(c.y + c.cy, bu)};
}

// Empty when `actual` lies within a pixel of where c belongs, else what is off. A drop-down
// list's template height includes its opened list: the closed box only has to fit in it and
// be at least a text line high. An icon may take the size of its image.
inline std::string Misplaced(const ControlTemplate& c, const Rect& actual, const BaseUnits& bu,
                             int lineHeight) {
    const Rect want = ControlPixels(c, bu);
    const auto off = [](int a, int b) { return std::abs(a - b) > 1; };
    bool bad = off(actual.left, want.left) || off(actual.top, want.top);
    if (c.kind == ControlKind::Icon) {
        // its own size
    } else if (c.kind == ControlKind::DropList)
        bad = bad || off(actual.Width(), want.Width()) || actual.Height() > want.Height() ||
              actual.Height() < lineHeight;
    else
        bad = bad || off(actual.Width(), want.Width()) || off(actual.Height(), want.Height());
    if (!bad) return {};
    const auto text = [](const Rect& r) {
        return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
               std::to_string(r.Width()) + "x" + std::to_string(r.Height());
    };
    return "control " + std::to_string(c.id) + " \"" + c.text + "\" at " + text(actual) +
           ", expected " + text(want);
}

}  // namespace geometry
