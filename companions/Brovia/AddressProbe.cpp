#include "AddressProbe.h"

namespace {
size_t ignoreBody(char*, size_t size, size_t count, void*) {
    return size * count;
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
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
    curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, "Brovia");
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, ignoreBody);
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
