#include "CardFields.h"

#include <cctype>
#include <vector>

namespace cardvision {

namespace {

// Marks that recognition puts between a label and its value: quotes, full stops, colons.
const char* const kNoise[] = {"“", "”", "‘",  "’", "\"", "'",  "。", "，", ",", "：",
                              ":", "·", "、", "|", "_",  "【", "】", "「", "」"};

void erase_all(std::string& text, const std::string& piece) {
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at)) {
        text.erase(at, piece.size());
    }
}

// A line without blanks and noise marks: labels and values as they stand on the card.
std::string compact(const std::string& line) {
    std::string text;
    for (char character : line) {
        if (!std::isspace(static_cast<unsigned char>(character))) text += character;
    }
    for (const char* piece : kNoise) erase_all(text, piece);
    return text;
}

std::vector<std::string> compact_lines(const std::string& recognised) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= recognised.size()) {
        size_t end = recognised.find('\n', start);
        if (end == std::string::npos) end = recognised.size();
        std::string line = compact(recognised.substr(start, end - start));
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The text after `label` when `line` begins with it.
bool value_after(const std::string& line, const std::string& label, std::string& value) {
    if (!starts_with(line, label)) return false;
    value = line.substr(label.size());
    return true;
}

bool is_digit(char character) { return character >= '0' && character <= '9'; }

// The digits that start at `at`, at most `most` of them; `at` moves past them.
std::string digits_at(const std::string& text, size_t& at, size_t most) {
    std::string digits;
    while (at < text.size() && is_digit(text[at]) && digits.size() < most) digits += text[at++];
    return digits;
}

bool skip(const std::string& text, size_t& at, const std::string& word) {
    if (text.compare(at, word.size(), word) != 0) return false;
    at += word.size();
    return true;
}

std::string two_digits(const std::string& number) {
    return number.size() == 1 ? "0" + number : number;
}

// "1990年1月1日" as "19900101"; any other text as it is.
std::string birth_date_of(const std::string& text) {
    for (size_t start = 0; start < text.size(); ++start) {
        size_t at = start;
        const std::string year = digits_at(text, at, 4);
        if (year.size() != 4 || !skip(text, at, "年")) continue;
        const std::string month = digits_at(text, at, 2);
        if (month.empty() || !skip(text, at, "月")) continue;
        const std::string day = digits_at(text, at, 2);
        if (day.empty()) continue;
        return year + two_digits(month) + two_digits(day);
    }
    return text;
}

// The first identity number in `text`: 17 digits and a check character (a digit or "X").
std::string id_number_in(const std::string& text) {
    size_t run = 0;  // digits just before `at`
    for (size_t at = 0; at < text.size(); ++at) {
        const char character = text[at];
        const bool check = is_digit(character) || character == 'X' || character == 'x';
        if (run >= 17 && check)
            return text.substr(at - 17, 17) + (character == 'x' ? 'X' : character);
        run = is_digit(character) ? run + 1 : 0;
    }
    return std::string();
}

// The dates in `text` as YYYYMMDD: runs of digits and full stops, each eight digits a date.
std::vector<std::string> dates_in(const std::string& text) {
    std::vector<std::string> dates;
    std::string digits;
    for (size_t at = 0; at <= text.size(); ++at) {
        const char character = at < text.size() ? text[at] : '\0';
        if (is_digit(character)) {
            digits += character;
            continue;
        }
        if (character == '.') continue;
        for (size_t start = 0; start + 8 <= digits.size(); start += 8) {
            dates.push_back(digits.substr(start, 8));
        }
        digits.clear();
    }
    return dates;
}

}  // namespace

bool FrontFields::empty() const {
    return name.empty() && sex.empty() && nationality.empty() && birth_date.empty() &&
           address.empty() && id_number.empty();
}

bool BackFields::empty() const {
    return issuing_authority.empty() && valid_from.empty() && valid_until.empty();
}

FrontFields parse_front(const std::string& recognised) {
    FrontFields fields;
    const std::vector<std::string> lines = compact_lines(recognised);
    bool in_address = false;
    for (const std::string& line : lines) {
        std::string value;
        const std::string number = id_number_in(line);
        if (!number.empty()) {
            fields.id_number = number;
            in_address = false;
        } else if (value_after(line, "姓名", value)) {
            fields.name = value;
            in_address = false;
        } else if (value_after(line, "性别", value)) {
            const size_t nation = value.find("民族");
            fields.sex = value.substr(0, nation);
            if (nation != std::string::npos) {
                fields.nationality = value.substr(nation + std::string("民族").size());
            }
            in_address = false;
        } else if (value_after(line, "出生", value)) {
            fields.birth_date = birth_date_of(value);
            in_address = false;
        } else if (value_after(line, "住址", value)) {
            fields.address = value;
            in_address = true;
        } else if (starts_with(line, "公民身份号码")) {
            in_address = false;
        } else if (in_address) {
            fields.address += line;  // the address runs on to the next line
        }
    }
    return fields;
}

BackFields parse_back(const std::string& recognised) {
    BackFields fields;
    for (const std::string& line : compact_lines(recognised)) {
        std::string value;
        if (value_after(line, "签发机关", value)) {
            fields.issuing_authority = value;
        } else if (value_after(line, "有效期限", value)) {
            const std::vector<std::string> dates = dates_in(value);
            if (!dates.empty()) fields.valid_from = dates[0];
            if (dates.size() > 1) fields.valid_until = dates[1];
            if (value.find("长期") != std::string::npos) fields.valid_until = "长期";
        }
    }
    return fields;
}

std::string front_line(const FrontFields& fields) {
    return fields.name + "|" + fields.sex + "|" + fields.nationality + "|" + fields.birth_date +
           "|" + fields.address + "|" + fields.id_number + "|";
}

std::string back_line(const BackFields& fields) {
    return fields.issuing_authority + "|" + fields.valid_from + "|" + fields.valid_until + "|";
}

}  // namespace cardvision
