// Reads what the X server shows: the top-level windows with their geometry
// and owning process, and the struts panels reserve. For the wall's
// end-to-end tests and benchmarks.
#pragma once

#include "common/Geometry.h"
#include "platform/linux/Xcb.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

// One window mapped on the root: where it lies (the window manager's frame,
// or the window itself when nothing manages it) and which processes' windows
// it holds (_NET_WM_PID of it and of its children).
struct TopWindow {
    Rect outer;
    std::set<uint32_t> pids;
    std::string name;        // _NET_WM_NAME of the client
    xcb_window_t client = 0; // the window that carries the process id
    Rect clientArea;         // where that window lies on the root
};

class XProbe {
public:
    explicit XProbe(const std::string& display) {
        if (!x_.open(display.c_str()))
            throw std::runtime_error("cannot reach X display " + display);
        c_ = x_.get();
        root_ = x_.root();
        pidAtom_ = atom("_NET_WM_PID");
        nameAtom_ = atom("_NET_WM_NAME");
        utf8Atom_ = atom("UTF8_STRING");
    }
    XProbe(const XProbe&) = delete;
    XProbe& operator=(const XProbe&) = delete;

    std::vector<TopWindow> topWindows() {
        std::vector<TopWindow> found;
        for (xcb_window_t w : children(root_)) {
            auto* attributes =
                xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr);
            bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            free(attributes);
            if (!viewable)
                continue;
            TopWindow top;
            auto* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr);
            if (!g)
                continue;
            // Children of the root have root coordinates; the border lies
            // outside the window on both sides.
            top.outer = {g->x, g->y, g->x + g->width + 2 * g->border_width,
                         g->y + g->height + 2 * g->border_width};
            free(g);
            collect(w, top, 0);
            if (!top.pids.empty())
                found.push_back(top);
        }
        return found;
    }

    // The colour shown at a point of the root window, as 0xRRGGBB. On
    // XWayland the root shows nothing: read the window (colourIn).
    uint32_t colourAt(int x, int y) { return colourIn(root_, x, y); }

    // The colour a window shows at a point of its own, as 0xRRGGBB.
    uint32_t colourIn(xcb_window_t window, int x, int y) {
        auto* image = xcb_get_image_reply(c_,
                                          xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, window,
                                                        static_cast<int16_t>(x),
                                                        static_cast<int16_t>(y), 1, 1, ~0u),
                                          nullptr);
        uint32_t colour = 0;
        if (image && xcb_get_image_data_length(image) >= 4) {
            const uint8_t* bgrx = xcb_get_image_data(image);
            colour = uint32_t(bgrx[2]) << 16 | uint32_t(bgrx[1]) << 8 | bgrx[0];
        }
        free(image);
        return colour;
    }

    // The bottom struts (_NET_WM_STRUT_PARTIAL) of the managed windows: the
    // reserved height and the first and last x it spans.
    struct BottomStrut {
        int height, startX, endX;
    };
    std::vector<BottomStrut> bottomStruts() {
        std::vector<BottomStrut> struts;
        for (uint32_t w : cardinals(root_, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW)) {
            auto s = cardinals(w, atom("_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL);
            if (s.size() == 12 && s[3] > 0)
                struts.push_back({int(s[3]), int(s[10]), int(s[11])});
        }
        return struts;
    }

private:
    xcb_atom_t atom(const char* name) { return platform::x11::internAtom(c_, name); }
    std::vector<xcb_window_t> children(xcb_window_t w) {
        std::vector<xcb_window_t> list;
        auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, w), nullptr);
        if (!tree)
            return list;
        auto* kids = xcb_query_tree_children(tree);
        list.assign(kids, kids + xcb_query_tree_children_length(tree));
        free(tree);
        return list;
    }
    std::vector<uint32_t> cardinals(xcb_window_t w, xcb_atom_t property, xcb_atom_t type) {
        return platform::x11::cardinals(c_, w, property, type);
    }
    void collect(xcb_window_t w, TopWindow& top, int depth) {
        for (uint32_t pid : cardinals(w, pidAtom_, XCB_ATOM_CARDINAL)) {
            top.pids.insert(pid);
            top.client = w;
            if (auto area = platform::x11::rootRectOf(c_, root_, w, false))
                top.clientArea = *area;
            top.name = platform::x11::textProperty(c_, w, nameAtom_, utf8Atom_);
        }
        if (depth < 2)
            for (xcb_window_t child : children(w))
                collect(child, top, depth + 1);
    }

    platform::x11::Connection x_;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t pidAtom_ = 0, nameAtom_ = 0, utf8Atom_ = 0;
};

// A virtual monitor wall (scripts/xwall) for the life of the object; it ends
// with this process too, should the process die first.
class VirtualWall {
public:
    VirtualWall(const std::string& sourceDir, const std::string& options) {
        std::string command =
            sourceDir + "/scripts/xwall start " + options + " --owner " + std::to_string(getpid());
        FILE* out = popen(command.c_str(), "r");
        char line[128] = {};
        if (!out || !fgets(line, sizeof line, out))
            throw std::runtime_error("xwall did not start");
        pclose(out);
        display_ = line;
        if (display_.rfind("DISPLAY=", 0) != 0)
            throw std::runtime_error("xwall said: " + display_);
        display_ = display_.substr(8);
        while (!display_.empty() && (display_.back() == '\n' || display_.back() == '\r'))
            display_.pop_back();
        sourceDir_ = sourceDir;
    }
    ~VirtualWall() {
        std::string command = sourceDir_ + "/scripts/xwall stop " + display_;
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "xwall stop %s failed\n", display_.c_str());
    }
    VirtualWall(const VirtualWall&) = delete;
    VirtualWall& operator=(const VirtualWall&) = delete;
    const std::string& display() const { return display_; }

private:
    std::string sourceDir_;
    std::string display_;
};
