// Where the wall puts each display assignment, and how a wall already up
// follows the monitors when they change: the same entry-order rules a fresh
// start uses, so that a changed wall shows what a fresh start would show.
#pragma once

#include "settings/SystemConfig.h"

#include <string>
#include <vector>

// Which display an assignment goes to: the primary display, the extended
// display of that index, or none.
inline constexpr int kNoDisplay = -2;
inline constexpr int kPrimaryDisplay = -1;

// Every assignment flagged primary goes to the primary display; the others
// take the extended displays one after the other in discovery order; surplus
// ones go nowhere.
std::vector<int> assignDisplays(const std::vector<DisplayAssignment>& displays,
                                size_t extendedCount);

// A page is never started over an empty rectangle (a monitor of no size, or
// one its panels cover whole): such an assignment is left out until the
// displays change.
inline bool roomForPage(const Rect& work) {
    return work.width() > 0 && work.height() > 0;
}

// The one diagnostic line for an assignment left out so.
void reportNoRoomForPage(size_t assignment, const Rect& work);

// One assignment's place on the wall: the display's device name and work
// area, or nothing (no display for it, or a display with no room: then the
// device and the empty area are kept, but nothing is shown).
struct WallSpot {
    bool shown = false;
    std::string device;
    Rect work;
    bool operator==(const WallSpot&) const = default;
};

// What a fresh start shows with these displays.
std::vector<WallSpot> wallLayout(const std::vector<DisplayAssignment>& displays,
                                 const MonitorInfo& primary,
                                 const std::vector<MonitorInfo>& extended);

enum class WallChangeKind {
    Move,    // the same display, a new work area: move and resize the window
    Restart, // the page now belongs on another display: end it, start it there
    End,     // no display for the page any more
    Start,   // a page that had no display has one now
};

struct WallChange {
    size_t assignment;
    WallChangeKind kind;
    Rect work; // where the page goes (Move, Restart, Start)
    bool operator==(const WallChange&) const = default;
};

// The changes that turn the wall `before` into the wall `after`, in
// assignment order; an assignment whose place is unchanged needs none.
std::vector<WallChange> replaceWall(const std::vector<WallSpot>& before,
                                    const std::vector<WallSpot>& after);
