#include "wall/WorkArea.h"

#include <algorithm>

namespace {

bool overlaps(const Rect& a, const Rect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

int32_t clampToInt(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

bool within(const Rect& inner, const Rect& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

} // namespace

Rect monitorWorkArea(const Rect& monitor, const platform::DesktopFacts& desktop) {
    for (const Rect& published : desktop.monitorWorkAreas)
        if (within(published, monitor) && overlaps(published, monitor))
            return published;
    if (!desktop.struts.empty())
        return workArea(monitor, desktop.desktop, desktop.struts);
    const size_t monitors = desktop.monitorsListed ? desktop.monitors.size() : 1;
    if (desktop.desktopWorkArea && monitors == 1) {
        const Rect& all = *desktop.desktopWorkArea;
        Rect work{std::max(monitor.left, all.left), std::max(monitor.top, all.top),
                  std::min(monitor.right, all.right), std::min(monitor.bottom, all.bottom)};
        if (work.right > work.left && work.bottom > work.top)
            return work;
    }
    return monitor;
}

Rect workArea(const Rect& monitor, const Rect& desktop, const std::vector<Strut>& struts) {
    Rect work = monitor;
    for (const Strut& s : struts) {
        // Each reserved band as a rectangle in desktop coordinates.
        const int64_t l = s.edge[0], r = s.edge[1], t = s.edge[2], b = s.edge[3];
        const auto span = [&](int i) {
            return std::pair<int64_t, int64_t>{s.range[i], int64_t(s.range[i + 1]) + 1};
        };
        if (l > 0) {
            auto [y0, y1] = span(0);
            Rect band{desktop.left, clampToInt(y0), clampToInt(desktop.left + l), clampToInt(y1)};
            if (overlaps(band, monitor))
                work.left = std::max(work.left, band.right);
        }
        if (r > 0) {
            auto [y0, y1] = span(2);
            Rect band{clampToInt(desktop.right - r), clampToInt(y0), desktop.right, clampToInt(y1)};
            if (overlaps(band, monitor))
                work.right = std::min(work.right, band.left);
        }
        if (t > 0) {
            auto [x0, x1] = span(4);
            Rect band{clampToInt(x0), desktop.top, clampToInt(x1), clampToInt(desktop.top + t)};
            if (overlaps(band, monitor))
                work.top = std::max(work.top, band.bottom);
        }
        if (b > 0) {
            auto [x0, x1] = span(6);
            Rect band{clampToInt(x0), clampToInt(desktop.bottom - b), clampToInt(x1),
                      desktop.bottom};
            if (overlaps(band, monitor))
                work.bottom = std::min(work.bottom, band.top);
        }
    }
    // A reservation larger than the monitor leaves an empty, not an inverted, area.
    work.right = std::max(work.right, work.left);
    work.bottom = std::max(work.bottom, work.top);
    return work;
}

std::string edidDisplayName(const uint8_t* edid, size_t length) {
    // Four 18-byte descriptors start at offset 54; a display descriptor has
    // zero in its first two bytes and its tag in the fourth.
    for (size_t offset = 54; offset + 18 <= length && offset <= 108; offset += 18) {
        const uint8_t* d = edid + offset;
        if (d[0] != 0 || d[1] != 0 || d[3] != 0xFC)
            continue;
        std::string name(reinterpret_cast<const char*>(d + 5), 13);
        size_t end = name.find('\n');
        if (end != std::string::npos)
            name.erase(end);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\0'))
            name.pop_back();
        return name;
    }
    return {};
}
