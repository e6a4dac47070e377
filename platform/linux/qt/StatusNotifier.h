// The StatusNotifier tray (KDE Plasma, GNOME's AppIndicator extension,
// swaybar): the D-Bus tray of desktops without an XEmbed tray.
#pragma once

namespace platform {

// Whether the tray icon goes to a StatusNotifier tray: Qt shows it there
// when a StatusNotifier host is registered with the watcher on the session
// bus, which is asked here the same way. False without a session bus.
bool statusNotifierTrayInUse();

} // namespace platform
