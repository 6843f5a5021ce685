// A WebSocket text message read as a request, once, where it arrives.
//
// Clients may quote with single quotes: the text is read as it is first, so that an apostrophe
// inside a double-quoted value survives, and only a text that is not JSON as it stands is read
// again with every single quote turned into a double quote.
#pragma once

#include <cstddef>
#include <string>

namespace countermate {

struct RequestText {
    bool parsed = false;    // JSON as sent, or after the quote rule
    std::string text;       // the text that was parsed (after the quote rule when it applied)
    std::string method;     // empty when the request names none (such a request is ignored)
    std::string args_text;  // the `args` object as compact JSON; empty when there is none
};

RequestText read_request_text(const char* data, size_t length);

}  // namespace countermate
