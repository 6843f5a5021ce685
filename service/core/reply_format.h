// Reply building for the request handlers.
//
// A handler's reply is one of the product's fixed templates, such as
//   {"method":"GetDevID","retVal":%d,"devID":"%s","errMsg":"%s"}
// filled from left to right. Texts never break the JSON around them:
//  - a %s between double quotes is JSON-escaped (a quote or backslash in a terminal answer or an
//    error text cannot end the string or inject members);
//  - a bare %s (a value the terminal hands over as JSON, such as idInfo or a QR code object) is
//    embedded as it stands when it parses as JSON, and as an escaped, quoted string otherwise.
// %d takes an integer, %f a floating-point number (printed as printf's "%f").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace countermate {

// One value of a reply. A text value only views its text, which must outlive the
// format_reply call it is given to: a braced list of values in that call does (temporaries
// there live until the call has returned), so a picture's Base64 text is never copied for it.
class ReplyValue {
public:
    ReplyValue(int value) : kind_(Kind::Integer), integer_(value) {}
    ReplyValue(long long value) : kind_(Kind::Integer), integer_(value) {}
    ReplyValue(double value) : kind_(Kind::Real), real_(value) {}
    ReplyValue(const char* value) : kind_(Kind::Text), text_(value ? value : "") {}
    ReplyValue(const std::string& value) : kind_(Kind::Text), text_(value) {}

    enum class Kind { Integer, Real, Text };
    Kind kind() const { return kind_; }
    long long integer() const { return integer_; }
    double real() const { return real_; }
    std::string_view text() const { return text_; }

private:
    Kind kind_;
    long long integer_ = 0;
    double real_ = 0;
    std::string_view text_;
};

// Fills `reply_template` with `values`. A placeholder whose value is missing or of another
// kind is filled with the kind's empty value (0, 0.000000, empty text), so a reply is always
// well-formed JSON when its template is.
std::string format_reply(const char* reply_template, const std::vector<ReplyValue>& values);

// `text` as the inside of a JSON string: quotes, backslashes and control bytes escaped;
// other bytes (UTF-8 included) as they are.
std::string json_escape(const std::string& text);

// True when `text` is one complete JSON value (object, array, string, number, literal).
bool is_json_value(std::string_view text);

}  // namespace countermate
