// The synthetic identity cards the simulator serves: one of each kind, with a portrait in the
// test photo format and made-up fingerprint data.
#include <cstring>

#include "ReaderSimulator.h"
#include "TestPhoto.h"

namespace countermate::sim {
namespace {

// UTF-8 to UCS-2 code units; characters beyond the Basic Multilingual Plane are not expected.
std::u16string ToUcs2(const std::string& text) {
    std::u16string units;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = (unsigned char)text[i];
        char16_t unit = lead;
        size_t size = 1;
        if (lead >= 0xE0 && i + 2 < text.size()) {
            unit = char16_t((lead & 0x0F) << 12 | (text[i + 1] & 0x3F) << 6 | (text[i + 2] & 0x3F));
            size = 3;
        } else if (lead >= 0xC0 && i + 1 < text.size()) {
            unit = char16_t((lead & 0x1F) << 6 | (text[i + 1] & 0x3F));
            size = 2;
        }
        units.push_back(unit);
        i += size;
    }
    return units;
}

testphoto::Picture Portrait(CardKind kind) {
    testphoto::Picture picture;
    const uint8_t palette[7][3] = {{200, 220, 240}, {240, 200, 170}, {60, 40, 30},   {20, 20, 20},
                                   {190, 60, 60},   {40, 60, 120},   {250, 250, 250}};
    std::memcpy(picture.palette, palette, sizeof palette);
    picture.palette[5][0] = uint8_t(40 + 60 * int(kind));  // a shirt colour per card kind
    for (int row = 0; row < testphoto::kGridHeight; ++row) {
        for (int column = 0; column < testphoto::kGridWidth; ++column) {
            const double dx = (column - 8) / 5.0, dy = (row - 9) / 6.5;
            uint8_t index = 0;
            if (dx * dx + dy * dy <= 1.0) index = row <= 4 ? 2 : 1;
            if (row >= 17 && column >= 2 && column <= 14) index = 5;
            picture.cells[row][column] = index;
        }
    }
    picture.cells[8][6] = picture.cells[8][10] = 3;
    picture.cells[12][7] = picture.cells[12][8] = picture.cells[12][9] = 4;
    picture.cells[17][8] = 6;
    return picture;
}

struct FieldText {
    int offset;
    int length;
    const char* text;
};

void PutFields(SyntheticCard& card, const FieldText* fields, size_t count) {
    for (size_t i = 0; i < count; ++i)
        PutTextField(card.text.data(), fields[i].offset, fields[i].length, fields[i].text);
}

}  // namespace

void PutTextField(uint8_t* block, int offset, int length, const std::string& text) {
    const std::u16string units = ToUcs2(text);
    for (int i = 0; i + 1 < length; i += 2) {
        const char16_t unit = size_t(i / 2) < units.size() ? units[size_t(i / 2)] : u' ';
        block[offset + i] = uint8_t(unit & 0xFF);
        block[offset + i + 1] = uint8_t(unit >> 8);
    }
}

SyntheticCard MakeCard(CardKind kind) {
    SyntheticCard card;
    if (kind == CardKind::kResident) {
        const FieldText fields[] = {{0, 30, "张伟"},
                                    {30, 2, "1"},
                                    {32, 4, "01"},
                                    {36, 16, "19900307"},
                                    {52, 70, "北京市东城区正义路1号"},
                                    {122, 36, "11010119900307123X"},
                                    {158, 30, "北京市公安局东城分局"},
                                    {188, 16, "20200101"},
                                    {204, 16, "20400101"},
                                    {220, 36, ""}};
        PutFields(card, fields, sizeof fields / sizeof fields[0]);
    } else if (kind == CardKind::kForeign) {
        const FieldText fields[] = {
            {0, 120, "SMITH JOHN"}, {120, 2, "1"},         {122, 30, "USA110090030712"},
            {152, 6, "USA"},        {158, 30, "史密斯"},   {188, 16, "20200101"},
            {204, 16, "20300101"},  {220, 16, "19900307"}, {236, 4, "20"},
            {240, 8, "1100"},       {248, 2, "I"},         {250, 6, ""}};
        PutFields(card, fields, sizeof fields / sizeof fields[0]);
    } else {
        const FieldText fields[] = {{0, 30, "陈大文"},
                                    {30, 2, "2"},
                                    {32, 4, ""},
                                    {36, 16, "19900307"},
                                    {52, 70, "香港特别行政区"},
                                    {122, 36, "810000199003071234"},
                                    {158, 30, "公安部出入境管理局"},
                                    {188, 16, "20200101"},
                                    {204, 16, "20250101"},
                                    {220, 18, "H12345678"},
                                    {238, 4, "01"},
                                    {242, 6, ""},
                                    {248, 2, "J"},
                                    {250, 6, ""}};
        PutFields(card, fields, sizeof fields / sizeof fields[0]);
    }
    card.photo = testphoto::Encode(Portrait(kind));
    for (size_t i = 0; i < card.fingerprint.size(); ++i)
        card.fingerprint[i] = uint8_t(i % 512 == 0 ? 0x43 : (i * 37 + 11) & 0xFF);
    return card;
}

}  // namespace countermate::sim
