// A page in a browser of its own on Windows (Microsoft Edge, Google Chrome,
// or the program BROVIA_BROWSER names), driven over the DevTools pipe by the
// page watch (PageWatch.h), as Brovia does on Linux.
//
// The browser gets its own profile, %LOCALAPPDATA%\Panoview\pages\<n> (n
// stays the same for the same rectangle, BrowserLaunch.h), whose last exit
// is made clean before each start; an app window of about:blank; the page's
// address over DevTools once the watch is set up; and DevTools over two
// anonymous pipes whose ends are the only handles it inherits. It runs in a
// job that ends it when Brovia.exe ends, however that happens (taskkill /F
// included). Its window, found by its process id, is put in the normal
// state over the rectangle, made full screen where the rectangle is a whole
// monitor, and placed again when the displays or their work areas change.
#pragma once

#include "Brovia.h"
#include "ReportLines.h"

#include <optional>
#include <string>

// Shows the page until the browser ends (its exit status) or stops
// answering (1, the browser ended). Nullopt when the browser could not be
// started at all, with `why` saying so: the plain page shows instead.
std::optional<int> showInBrowser(const std::string& browser, const PagePlacement& page,
                                 ReportLines& reports, std::string& why);
