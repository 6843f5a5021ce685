// Reads a request's `args` object with the argument kinds every handler shares:
//  - an integer key takes a JSON integer, or a JSON number truncated toward zero;
//  - a text key takes only a JSON string;
// a key that is absent, or present with another JSON type, leaves the default in place.
// Arguments that are not an object (missing, empty text, not JSON) read as all defaults.
#pragma once

#include <string>

#include "CJsonObject.h"

namespace countermate {

class HandlerArgs {
public:
    explicit HandlerArgs(const std::string& args_text);

    int integer(const char* key, int default_value) const;
    // Whether `key` holds an integer argument (a JSON integer or number).
    bool has_integer(const char* key) const;
    std::string text(const char* key, const std::string& default_value = std::string()) const;

private:
    CJsonObject args_;
};

}  // namespace countermate
