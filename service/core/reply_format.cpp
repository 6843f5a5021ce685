#include "reply_format.h"

#include <cstdio>

#include <cjson/cJSON.h>

namespace countermate {

namespace {

// Whether `byte` must be escaped inside a JSON string.
bool needs_escape(unsigned char byte) { return byte < 0x20 || byte == '"' || byte == '\\'; }

void append_escape(std::string& out, unsigned char byte) {
    switch (byte) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        case '\b': out += "\\b"; return;
        case '\f': out += "\\f"; return;
        default: {
            char unicode[8];
            std::snprintf(unicode, sizeof unicode, "\\u%04x", byte);
            out += unicode;
        }
    }
}

// Appends `text` escaped; runs of bytes that need nothing are copied whole, so a picture's
// Base64 text costs one copy.
void append_escaped(std::string& out, std::string_view text) {
    size_t run_start = 0;
    for (size_t index = 0; index < text.size(); ++index) {
        const auto byte = static_cast<unsigned char>(text[index]);
        if (!needs_escape(byte)) continue;
        out.append(text.data() + run_start, index - run_start);
        append_escape(out, byte);
        run_start = index + 1;
    }
    out.append(text.data() + run_start, text.size() - run_start);
}

void append_integer(std::string& out, const ReplyValue* value) {
    long long number = 0;
    if (value && value->kind() == ReplyValue::Kind::Integer) number = value->integer();
    if (value && value->kind() == ReplyValue::Kind::Real)
        number = static_cast<long long>(value->real());
    out += std::to_string(number);
}

void append_real(std::string& out, const ReplyValue* value) {
    double number = 0;
    if (value && value->kind() == ReplyValue::Kind::Real) number = value->real();
    if (value && value->kind() == ReplyValue::Kind::Integer)
        number = static_cast<double>(value->integer());
    char printed[64];
    std::snprintf(printed, sizeof printed, "%f", number);
    out += printed;
}

// The text of a %s: a text value as it is, a number printed.
void append_text(std::string& out, const ReplyValue* value, bool quoted) {
    if (value && value->kind() != ReplyValue::Kind::Text) {
        std::string number;
        if (value->kind() == ReplyValue::Kind::Integer) {
            append_integer(number, value);
        } else {
            append_real(number, value);
        }
        out += number;
        return;
    }
    const std::string_view text = value ? value->text() : std::string_view();
    if (quoted) {
        append_escaped(out, text);
    } else if (is_json_value(text)) {
        // A bare %s: JSON from the terminal stays JSON; anything else becomes a proper string.
        out.append(text.data(), text.size());
    } else {
        out += '"';
        append_escaped(out, text);
        out += '"';
    }
}

size_t text_bytes(const std::vector<ReplyValue>& values) {
    size_t total = 0;
    for (const ReplyValue& value : values) {
        if (value.kind() == ReplyValue::Kind::Text) total += value.text().size();
    }
    return total;
}

}  // namespace

std::string json_escape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size() + 8);
    append_escaped(escaped, text);
    return escaped;
}

bool is_json_value(std::string_view text) {
    const char* end = nullptr;
    cJSON* parsed = cJSON_ParseWithLengthOpts(text.data(), text.size(), &end, 0);
    if (parsed == nullptr) return false;
    cJSON_Delete(parsed);
    // The whole text must be the one value: only blanks may follow it.
    for (const char* rest = end; rest < text.data() + text.size(); ++rest) {
        if (*rest != ' ' && *rest != '\t' && *rest != '\r' && *rest != '\n') return false;
    }
    return true;
}

std::string format_reply(const char* reply_template, const std::vector<ReplyValue>& values) {
    std::string reply;
    // One allocation for the usual reply: texts rarely need escaping.
    reply.reserve(std::char_traits<char>::length(reply_template) + text_bytes(values) + 64);
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
            append_integer(reply, value);
        } else if (conversion == 'f') {
            append_real(reply, value);
        } else {
            append_text(reply, value, !reply.empty() && reply.back() == '"');
        }
    }
    return reply;
}

}  // namespace countermate
