// Arbitrary handshake requests and Base64 texts. An answer, when there is one, must be a
// complete 101 response.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ws_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view request(reinterpret_cast<const char*>(data), size);
    ws_hasKeyHeader(request);
    const std::string answer = ws_handshakeAnswer(request, "/");
    if (!answer.empty() && (answer.compare(0, 12, "HTTP/1.1 101") != 0 ||
                            answer.compare(answer.size() - 4, 4, "\r\n\r\n") != 0)) {
        abort();
    }
    const std::string text(request);  // up to its first NUL, as a C text
    std::vector<uint8_t> decoded(text.size() / 4 * 3 + 3);
    if (size_t(ws_base64_decode(text.c_str(), decoded.data())) > decoded.size()) abort();
    return 0;
}
