// Pictures of identity-card sides made for the tests: the labels and values of a resident card
// drawn in a Chinese font on a light card, about the size a document camera gives.
#pragma once

#include <string>
#include <vector>

namespace cardvision::testing {

struct CardFront {
    std::string name, sex, nationality, birth_year, birth_month, birth_day, address_first_line,
        address_second_line, id_number;
};

struct CardBack {
    std::string issuing_authority, validity;
};

// The font the pictures are drawn in; empty when it is not installed.
std::string card_font();

// Write a JPEG picture of the side to `path`; false when it could not be made.
bool write_front(const CardFront& front, const std::string& path);
bool write_back(const CardBack& back, const std::string& path);
// Lines of text, one under the other.
bool write_text_lines(const std::vector<std::string>& lines, const std::string& path);

}  // namespace cardvision::testing
