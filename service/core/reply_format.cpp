#include "reply_format.h"

#include <cstdio>

#include <cjson/cJSON.h>

namespace countermate {

std::string json_escape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size() + 8);
    for (unsigned char byte : text) {
        switch (byte) {
        case '"': escaped += "\\\""; break;
        case '\\': escaped += "\\\\"; break;
        case '\n': escaped += "\\n"; break;
        case '\r': escaped += "\\r"; break;
        case '\t': escaped += "\\t"; break;
        case '\b': escaped += "\\b"; break;
        case '\f': escaped += "\\f"; break;
        default:
            if (byte < 0x20) {
                char unicode[8];
                std::snprintf(unicode, sizeof unicode, "\\u%04x", byte);
                escaped += unicode;
            } else {
                escaped += static_cast<char>(byte);
            }
        }
    }
    return escaped;
}

bool is_json_value(const std::string& text) {
    const char* end = nullptr;
    cJSON* parsed = cJSON_ParseWithOpts(text.c_str(), &end, /*require_null_terminated=*/1);
    const bool complete = parsed != nullptr;
    cJSON_Delete(parsed);
    return complete;
}

namespace {

std::string integer_text(const ReplyValue* value) {
    long long number = 0;
    if (value && value->kind() == ReplyValue::Kind::Integer) number = value->integer();
    if (value && value->kind() == ReplyValue::Kind::Real) number = static_cast<long long>(value->real());
    return std::to_string(number);
}

std::string real_text(const ReplyValue* value) {
    double number = 0;
    if (value && value->kind() == ReplyValue::Kind::Real) number = value->real();
    if (value && value->kind() == ReplyValue::Kind::Integer) number = static_cast<double>(value->integer());
    char printed[64];
    std::snprintf(printed, sizeof printed, "%f", number);
    return printed;
}

std::string text_of(const ReplyValue* value) {
    if (!value) return "";
    if (value->kind() == ReplyValue::Kind::Text) return value->text();
    return value->kind() == ReplyValue::Kind::Integer ? integer_text(value) : real_text(value);
}

// A bare %s: JSON from the terminal stays JSON; anything else becomes a proper string.
std::string embedded_text(const ReplyValue* value) {
    const std::string text = text_of(value);
    if (is_json_value(text)) return text;
    return "\"" + json_escape(text) + "\"";
}

}  // namespace

std::string format_reply(const char* reply_template, const std::vector<ReplyValue>& values) {
    std::string reply;
    size_t next_value = 0;
    for (const char* cursor = reply_template; *cursor; ++cursor) {
        if (cursor[0] != '%' || (cursor[1] != 'd' && cursor[1] != 's' && cursor[1] != 'f')) {
            reply += *cursor;
            continue;
        }
        const ReplyValue* value = next_value < values.size() ? &values[next_value] : nullptr;
        ++next_value;
        const char conversion = cursor[1];
        ++cursor;
        if (conversion == 'd') {
            reply += integer_text(value);
        } else if (conversion == 'f') {
            reply += real_text(value);
        } else if (!reply.empty() && reply.back() == '"') {
            reply += json_escape(text_of(value));
        } else {
            reply += embedded_text(value);
        }
    }
    return reply;
}

}  // namespace countermate
