#include "OperationSteps.h"

#include <string>

#include "DEV_CounterMate.h"
#include "ResultCodes.h"

namespace countermate::terminal {
namespace {

// The transfer functions take char* for the interface's sake; they never write through it.
char* Mutable(const char* text) { return const_cast<char*>(text); }

}  // namespace

CJsonObject Params(std::initializer_list<std::pair<const char*, ParamValue>> members) {
    CJsonObject param;
    for (const auto& [name, value] : members) {
        if (const int* number = std::get_if<int>(&value)) param.Add(name, *number);
        if (const char* const* text = std::get_if<const char*>(&value)) param.Add(name, *text);
        if (const bool* flag = std::get_if<bool>(&value)) param.Add(name, *flag, *flag);
    }
    return param;
}

int PushAll(CDEV_CounterMate& driver, std::initializer_list<FilePush> pushes) {
    for (const FilePush& push : pushes) {
        const int result = driver.PushFile(Mutable(TextOrEmpty(push.local_path)), push.terminal_path);
        if (result != kSuccess) return result;
    }
    return kSuccess;
}

int PullAll(CDEV_CounterMate& driver, std::initializer_list<FilePull> pulls) {
    for (const FilePull& pull : pulls) {
        if (IsEmpty(pull.local_path)) continue;
        const int result = driver.PullFile(pull.terminal_path, Mutable(pull.local_path));
        if (result != kSuccess) return result;
    }
    return kSuccess;
}

int PullAllAsBase64(CDEV_CounterMate& driver, std::initializer_list<Base64Pull> pulls) {
    for (const Base64Pull& pull : pulls) {
        if (pull.out == nullptr) continue;
        const int result =
            driver.PullFileAndBase64(Mutable(pull.terminal_path), nullptr, pull.out, pull.capacity);
        if (result != kSuccess) return result;
    }
    return kSuccess;
}

}  // namespace countermate::terminal
