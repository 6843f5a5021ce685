// Arbitrary bytes as the text of a WebSocket message. Whatever they are, reading them as a
// request never fails unsafely, a request with a method hands on arguments that are a JSON
// object or nothing, and the argument reader answers every kind of key with a value or its
// default.
#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "handler_args.h"
#include "request_text.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

void read_arguments(const std::string& args_text) {
    const countermate::HandlerArgs args(args_text);
    for (const char* key : {"outTimes", "fileForm", "fileData", "method", ""}) {
        const int value = args.integer(key, -12345);
        check(args.has_integer(key) || value == -12345);
        (void)args.text(key, "default");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const countermate::RequestText request =
        countermate::read_request_text(reinterpret_cast<const char*>(data), size);
    check(request.text.size() == size);
    if (!request.parsed) {
        check(request.method.empty() && request.args_text.empty());
        return 0;
    }
    if (!request.args_text.empty()) {
        cJSON* args = cJSON_Parse(request.args_text.c_str());
        check(args != nullptr);
        cJSON_Delete(args);
    }
    read_arguments(request.args_text);
    return 0;
}
