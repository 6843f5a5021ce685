#include "OperationResults.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "CJsonObject.h"

namespace countermate::terminal {
namespace {

// Reads the member `name` of the answer's `data` into `value`; false when either is missing.
template <typename Value>
bool ReadData(const CJsonObject& answer, const char* name, Value& value) {
    CJsonObject data;
    return answer.Get("data", data) && data.Get(name, value);
}

}  // namespace

void CopyText(const std::string& text, char* out, size_t capacity) {
    if (out == nullptr || capacity == 0) return;
    const size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

void CopyDataText(const CJsonObject& answer, const char* name, char* out, size_t capacity) {
    std::string text;
    if (out != nullptr && ReadData(answer, name, text)) CopyText(text, out, capacity);
}

void CopyDataInteger(const CJsonObject& answer, const char* name, int* out) {
    int value = 0;
    if (out != nullptr && ReadData(answer, name, value)) *out = value;
}

void CopyDataNumber(const CJsonObject& answer, const char* name, double* out) {
    double value = 0;
    if (out != nullptr && ReadData(answer, name, value)) *out = value;
}

}  // namespace countermate::terminal
