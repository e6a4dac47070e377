#include "common/HiddenToken.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// Where the values of the address's `token` parameters lie: (offset,
// length) each, in the query between '?' and '#'.
std::vector<std::pair<size_t, size_t>> tokenValues(std::string_view address) {
    std::vector<std::pair<size_t, size_t>> values;
    const size_t query = address.find('?');
    if (query == std::string_view::npos)
        return values;
    const size_t end = std::min(address.find('#', query), address.size());
    constexpr std::string_view name = "token=";
    for (size_t at = query + 1; at < end;) {
        size_t next = address.find('&', at);
        if (next == std::string_view::npos || next > end)
            next = end;
        if (address.substr(at, name.size()) == name && at + name.size() <= next)
            values.emplace_back(at + name.size(), next - at - name.size());
        at = next + 1;
    }
    return values;
}

} // namespace

std::string_view tokenOfAddress(std::string_view address) {
    for (const auto& [at, length] : tokenValues(address))
        if (length > 0)
            return address.substr(at, length);
    return {};
}

std::string hideTokenIn(std::string text, std::string_view token) {
    if (token.empty())
        return text;
    for (size_t at = text.find(token); at != std::string::npos;
         at = text.find(token, at + kHiddenToken.size()))
        text.replace(at, token.size(), kHiddenToken);
    return text;
}

std::string addressWithTokenHidden(std::string_view address) {
    std::string hidden;
    size_t copied = 0;
    for (const auto& [at, length] : tokenValues(address)) {
        hidden.append(address.substr(copied, at - copied));
        if (length > 0)
            hidden.append(kHiddenToken);
        copied = at + length;
    }
    hidden.append(address.substr(copied));
    return hidden;
}

void starTokenInPlace(char* address) {
    for (const auto& [at, length] : tokenValues(address))
        std::memset(address + at, '*', length);
}
