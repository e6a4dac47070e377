#include "AddressProbe.h"

namespace {
// The status line and the headers are in: the body is not needed.
size_t stopAtTheBody(char*, size_t, size_t, void*) {
    return 0;
}

// The server was there and spoke TLS, but the probe could not trust it, or
// had nothing to check it with: a machine without a certificate store (the
// browser brings its own) reaches the server just the same.
bool handshakeFailed(CURLcode result) {
    switch (result) {
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return true;
    default:
        return false;
    }
}
} // namespace

AddressProbe::AddressProbe() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi_ = curl_multi_init();
}

AddressProbe::~AddressProbe() {
    drop();
    curl_multi_cleanup(multi_);
    curl_global_cleanup();
}

void AddressProbe::drop() {
    if (!easy_)
        return;
    curl_multi_remove_handle(multi_, easy_);
    curl_easy_cleanup(easy_);
    easy_ = nullptr;
}

void AddressProbe::start(const std::string& url) {
    drop();
    easy_ = curl_easy_init();
    if (!easy_)
        return;
    curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
    curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, "Brovia");
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, stopAtTheBody);
    curl_multi_add_handle(multi_, easy_);
}

std::optional<AddressAnswer> AddressProbe::perform() {
    if (!easy_)
        return std::nullopt;
    int running = 0;
    curl_multi_perform(multi_, &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE || message->easy_handle != easy_)
            continue;
        AddressAnswer answer;
        const CURLcode result = message->data.result;
        long status = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
        if (result == CURLE_OK || status > 0) {
            answer.kind = AddressAnswer::Kind::Status;
            answer.status = static_cast<int>(status);
        } else if (handshakeFailed(result)) {
            answer.kind = AddressAnswer::Kind::Handshake;
        } else if (result == CURLE_COULDNT_CONNECT || result == CURLE_COULDNT_RESOLVE_HOST ||
                   result == CURLE_COULDNT_RESOLVE_PROXY) {
            answer.kind = AddressAnswer::Kind::Unreachable;
        } else {
            answer.kind = AddressAnswer::Kind::NoAnswer;
        }
        drop();
        return answer;
    }
    return std::nullopt;
}
