#include "CardFields.h"

#include <cctype>
#include <regex>
#include <vector>

namespace cardvision {

namespace {

// Marks that recognition puts between a label and its value: quotes, full stops, colons.
const char* const kNoise[] = {"“", "”", "‘", "’", "\"", "'", "。", "，", ",", "：", ":", "·",
                              "、", "|", "_", "【", "】", "「", "」"};

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

std::string two_digits(const std::string& number) {
    return number.size() == 1 ? "0" + number : number;
}

// "1990年1月1日" as "19900101"; any other text as it is.
std::string birth_date_of(const std::string& text) {
    static const std::regex date(R"((\d{4})年(\d{1,2})月(\d{1,2})日?)");
    std::smatch found;
    if (!std::regex_search(text, found, date)) return text;
    return found[1].str() + two_digits(found[2].str()) + two_digits(found[3].str());
}

const std::regex& id_number_pattern() {
    static const std::regex pattern(R"(\d{17}[\dXx])");
    return pattern;
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
        std::smatch number;
        if (std::regex_search(line, number, id_number_pattern())) {
            fields.id_number = number.str();
            if (!fields.id_number.empty() && fields.id_number.back() == 'x') fields.id_number.back() = 'X';
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
    static const std::regex date(R"((\d{4})\.?(\d{2})\.?(\d{2}))");
    for (const std::string& line : compact_lines(recognised)) {
        std::string value;
        if (value_after(line, "签发机关", value)) {
            fields.issuing_authority = value;
        } else if (value_after(line, "有效期限", value)) {
            std::vector<std::string> dates;
            for (auto found = std::sregex_iterator(value.begin(), value.end(), date);
                 found != std::sregex_iterator(); ++found) {
                dates.push_back((*found)[1].str() + (*found)[2].str() + (*found)[3].str());
            }
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
