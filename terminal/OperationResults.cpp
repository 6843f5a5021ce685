#include "OperationResults.h"

#include <cstring>
#include <string>

#include "CJsonObject.h"

namespace countermate::terminal {

void CopyDataText(const CJsonObject& answer, const char* name, char* out, size_t capacity) {
    CJsonObject data;
    std::string text;
    if (out == nullptr || capacity == 0 || !answer.Get("data", data) || !data.Get(name, text)) return;
    const size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

}  // namespace countermate::terminal
