#include "OperationSteps.h"

#include <cstdlib>
#include <string>

#include "DEV_CounterMate.h"
#include "ModuleLog.h"
#include "OperationResults.h"
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

Command MakeCommand(const char* name, std::optional<CJsonObject> param, int wait, StatusRule rule,
                    int answer_capacity) {
    return Command{name, std::move(param), wait, rule, answer_capacity};
}

TerminalOperation::TerminalOperation(CDEV_CounterMate& driver, const char* name, int level)
    : m_driver(driver), m_name(name), m_level(level) {
    CTM_TRACE(m_level, m_name, "...");
}

int TerminalOperation::Run(std::initializer_list<FilePush> pushes, const Command& command,
                           const std::vector<ResultStep>& steps) {
    int result = Push(pushes);
    if (result == kSuccess) result = Send(command);
    if (result == kSuccess) result = Apply(steps);
    return Return(result);
}

int TerminalOperation::Push(std::initializer_list<FilePush> pushes) {
    for (const FilePush& push : pushes) {
        const int result =
            m_driver.PushFile(Mutable(TextOrEmpty(push.local_path)), push.terminal_path.c_str());
        if (result != kSuccess) return result;
    }
    return kSuccess;
}

int TerminalOperation::Send(const Command& command) {
    m_answer = CJsonObject();
    m_answer_text.clear();
    return m_driver.RunCommandKeepingText(command.name, command.param ? &*command.param : nullptr,
                                          command.wait, command.rule, m_answer, &m_answer_text,
                                          command.answer_capacity);
}

int TerminalOperation::Apply(const std::vector<ResultStep>& steps) {
    for (const ResultStep& step : steps) {
        const int result = ApplyStep(step);
        if (result != kSuccess) return result;
    }
    return kSuccess;
}

int TerminalOperation::ApplyStep(const ResultStep& step) {
    if (const auto* text = std::get_if<TextMember>(&step)) {
        CopyDataText(m_answer, text->member, text->out, text->capacity);
    } else if (const auto* whole = std::get_if<AnswerText>(&step)) {
        CopyText(m_answer_text, whole->out, whole->capacity);
    } else if (const auto* integer = std::get_if<IntegerMember>(&step)) {
        CopyDataInteger(m_answer, integer->member, integer->out);
    } else if (const auto* number = std::get_if<NumberMember>(&step)) {
        CopyDataNumber(m_answer, number->member, number->out);
    } else if (const auto* pull = std::get_if<FilePull>(&step)) {
        if (pull->local_path.empty()) return kSuccess;
        const int result =
            m_driver.PullFile(pull->terminal_path.c_str(), Mutable(pull->local_path.c_str()));
        if (result != kSuccess && pull->failure_code != kSuccess) return pull->failure_code;
        return result;
    } else if (const auto* base64 = std::get_if<Base64Pull>(&step)) {
        if (base64->out == nullptr) return kSuccess;
        return m_driver.PullFileAndBase64(Mutable(base64->terminal_path.c_str()), nullptr,
                                          base64->out, base64->capacity);
    } else if (const auto* allocated = std::get_if<AllocatedBase64Pull>(&step)) {
        if (allocated->out == nullptr) return kSuccess;
        *allocated->out = nullptr;
        if (allocated->terminal_path.empty()) {
            *allocated->out = static_cast<char*>(std::calloc(1, 1));
            return *allocated->out != nullptr ? kSuccess : kFileOperationFailed;
        }
        const int result =
            m_driver.PullFile_Base64_Calloc(allocated->terminal_path.c_str(), allocated->out);
        if (result != kSuccess) {
            std::free(*allocated->out);
            *allocated->out = nullptr;
            if (allocated->failure_code != kSuccess) return allocated->failure_code;
        }
        return result;
    }
    return kSuccess;
}

CJsonObject TerminalOperation::Data() const {
    CJsonObject data;
    m_answer.Get("data", data);
    return data;
}

int TerminalOperation::DataInteger(const char* member, int fallback) const {
    int value = fallback;
    Data().Get(member, value);
    return value;
}

int TerminalOperation::TopInteger(const char* member, int fallback) const {
    int value = fallback;
    m_answer.Get(member, value);
    return value;
}

int TerminalOperation::Return(int result) const {
    CTM_TRACE(m_level, m_name, "return %d", result);
    return result;
}

}  // namespace countermate::terminal
