// One plain HTTP request to a page's address, to learn whether its server
// answers again before the browser is sent to load the page: libcurl's
// multi interface, so that Brovia's one loop waits on it beside the DevTools
// pipe and never blocks. A HEAD request: the status is all that counts.
#pragma once

#include "PageWatch.h"

#include <curl/curl.h>

#include <optional>
#include <string>

class AddressProbe {
public:
    AddressProbe();
    ~AddressProbe();
    AddressProbe(const AddressProbe&) = delete;
    AddressProbe& operator=(const AddressProbe&) = delete;

    // Starts the request (one at a time; a request under way is dropped).
    void start(const std::string& url);
    // Moves the request on; its answer once it has finished.
    std::optional<AddressAnswer> perform();
    CURLM* multi() const { return multi_; }

private:
    void drop();
    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
};
