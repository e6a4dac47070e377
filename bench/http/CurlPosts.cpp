// The yardstick for small requests: COUNT sequential JSON POSTs with plain
// libcurl, a fresh easy handle for each.
//   curl_posts URL COUNT
#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

size_t collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: curl_posts URL COUNT\n");
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int count = std::atoi(argv[2]);
    int answered = 0;
    for (int i = 0; i < count; ++i) {
        CURL* easy = curl_easy_init();
        curl_slist* headers = nullptr;
        headers = curl_slist_append(headers, "Content-type:application/json");
        headers = curl_slist_append(headers, "Accept:application/json");
        std::string body = "{\"userid\":\"bench\",\"seq\":" + std::to_string(i) + "}";
        std::string reply;
        curl_easy_setopt(easy, CURLOPT_URL, argv[1]);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "Http-connect");
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply);
        if (curl_easy_perform(easy) == CURLE_OK && !reply.empty())
            ++answered;
        curl_slist_free_all(headers);
        curl_easy_cleanup(easy);
    }
    curl_global_cleanup();
    std::fprintf(stderr, "answered=%d of %d\n", answered, count);
    return answered == count ? 0 : 1;
}
