#include "http/UrlSplit.h"

#include "common/Numbers.h"

namespace {

template <typename Char> BasicUrlParts<Char> split(std::basic_string_view<Char> url) {
    static constexpr Char scheme[] = {'h', 't', 't', 'p', ':', '/', '/'};
    const std::basic_string_view<Char> schemeText(scheme, 7);
    BasicUrlParts<Char> parts;
    std::basic_string_view<Char> rest = url;
    if (size_t at = rest.find(schemeText); at != rest.npos)
        rest.remove_prefix(at + schemeText.size());
    std::basic_string_view<Char> host = rest;
    if (size_t slash = rest.find(Char('/')); slash != rest.npos) {
        host = rest.substr(0, slash);
        parts.path = rest.substr(slash);
    }
    if (size_t colon = host.find(Char(':')); colon != host.npos) {
        parts.port = parseDecimalInt(host.substr(colon + 1));
        host = host.substr(0, colon);
    }
    parts.host = host;
    return parts;
}

} // namespace

UrlParts splitUrl(std::string_view url) {
    return split(url);
}

UrlPartsW splitUrl(std::wstring_view url) {
    return split(url);
}
