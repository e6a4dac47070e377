// The session token in a page address (...?token=<token>&flag=multiscreen)
// is hidden wherever the address is shown, logged or left readable to other
// users: as "***" in texts, as '*' over its own bytes in a process's words.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kHiddenToken = "***";

// The token an address carries: the value of its query's first `token`
// parameter, up to the next '&' or '#'; empty when it has none.
std::string_view tokenOfAddress(std::string_view address);

// The text with every occurrence of the token as "***"; the text as it is
// for an empty token.
std::string hideTokenIn(std::string text, std::string_view token);

// The address with the value of each of its `token` parameters as "***".
std::string addressWithTokenHidden(std::string_view address);

// Overwrites the value of each `token` parameter of the address with '*',
// in place: the address keeps its length.
void starTokenInPlace(char* address);
