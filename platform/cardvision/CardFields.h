// The fields of a resident identity card, found in the text that recognition gave for a picture
// of one side. Recognition of a card is noisy: labels and values may be split by blanks, stray
// quotes or full stops may stand between them, and a value may run on to the next line. The
// parsers look for each label at the start of a line and take what follows it.
#pragma once

#include <string>

namespace cardvision {

struct FrontFields {
    std::string name;
    std::string sex;
    std::string nationality;
    std::string birth_date;  // YYYYMMDD when the date was read whole, else the text as read
    std::string address;
    std::string id_number;  // 17 digits and a check character (a digit or "X")
    bool empty() const;
};

struct BackFields {
    std::string issuing_authority;
    std::string valid_from;   // YYYYMMDD
    std::string valid_until;  // YYYYMMDD, or "长期"
    bool empty() const;
};

FrontFields parse_front(const std::string& recognised);
BackFields parse_back(const std::string& recognised);

// The fields in the order of the card's layout, each followed by "|".
std::string front_line(const FrontFields& fields);
std::string back_line(const BackFields& fields);

}  // namespace cardvision
