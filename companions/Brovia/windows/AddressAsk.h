// One plain HTTP request to a page's address with WinInet, as the page
// watch asks before it loads a failed page again: a GET whose status is all
// that counts (a server that refuses HEAD answers all the same), redirects
// not followed, nothing from a cache, a certificate the system does not
// trust taken for a server that is there. Blocks for at most about 10 s;
// Brovia.exe runs it on a thread of its own.
#pragma once

#include "PageWatch.h"

#include <string>

AddressAnswer askAddress(const std::string& url);
