#include "request_text.h"

#include <algorithm>

#include "CJsonObject.h"

namespace countermate {

RequestText read_request_text(const char* data, size_t length) {
    RequestText request;
    request.text.assign(data, length);
    CJsonObject parsed;
    request.parsed = parsed.Parse(request.text);
    if (!request.parsed) {
        std::replace(request.text.begin(), request.text.end(), '\'', '"');
        request.parsed = parsed.Parse(request.text);
    }
    if (!request.parsed || !parsed.Get("method", request.method)) return request;
    CJsonObject args;
    if (parsed.Get("args", args)) request.args_text = args.ToString();
    return request;
}

}  // namespace countermate
