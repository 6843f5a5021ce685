#include "handler_args.h"

namespace countermate {

HandlerArgs::HandlerArgs(const std::string& args_text) {
    if (!args_text.empty()) args_.Parse(args_text);
}

int HandlerArgs::integer(const char* key, int default_value) const {
    int value = default_value;
    // A boolean is not an integer argument: Get(int) refuses it and the default stays.
    args_.Get(key, value);
    return value;
}

bool HandlerArgs::has_integer(const char* key) const {
    int value = 0;
    return args_.Get(key, value);
}

std::string HandlerArgs::text(const char* key, const std::string& default_value) const {
    std::string value = default_value;
    args_.Get(key, value);
    return value;
}

}  // namespace countermate
