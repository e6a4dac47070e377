// One plain HTTP request to a page's address, to learn whether its server
// answers again before the browser is sent to load the page: libcurl's
// multi interface, so that Brovia's one loop waits on it beside the DevTools
// pipe and never blocks. A GET, as the browser's load asks, given up at the
// first byte of the body: that anything answers is all that counts (a
// server that refuses HEAD answers 405 or 501 all the same), and so is a TLS
// handshake that fails over the certificate. Redirects are not followed.
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
