// The card's text block (256 bytes of UCS-2 little-endian) turned into UTF-8 fields and one
// "|"-terminated line. The card kind is the character at byte 248: 'I' a foreign national's
// permanent-residence card, 'J' a Hong Kong, Macao and Taiwan residence permit, anything else a
// resident identity card. Field outputs need 4 bytes per block byte of the field, and at least
// 16 bytes for sex and nationality.
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "CardgateInternal.h"
#include "IdentityTables.h"

namespace cardgate {
namespace {

constexpr int kTextBlockSize = 256;
constexpr int kKindOffset = 248;
constexpr int kFieldRoom = 512;  // the widest field, 120 bytes, needs 4 × 120 + 1
constexpr int kLineRoom = 1024;  // the identity text buffer of the callers

enum FieldKind { kText = 0, kSex = 1, kNation = 2, kCountry = 3 };

struct Field {
    int offset;
    int length;
    FieldKind kind;
};

struct Layout {
    int cardKind;
    int count;
    Field fields[14];
};

const Layout kResident = {0,
                          10,
                          {{0, 30, kText},
                           {30, 2, kSex},
                           {32, 4, kNation},
                           {36, 16, kText},
                           {52, 70, kText},
                           {122, 36, kText},
                           {158, 30, kText},
                           {188, 16, kText},
                           {204, 16, kText},
                           {220, 36, kText}}};
const Layout kForeigner = {1,
                           12,
                           {{0, 120, kText},
                            {120, 2, kSex},
                            {122, 30, kText},
                            {152, 6, kText},
                            {158, 30, kText},
                            {188, 16, kText},
                            {204, 16, kText},
                            {220, 16, kText},
                            {236, 4, kText},
                            {240, 8, kText},
                            {248, 2, kText},
                            {250, 6, kText}}};
const Layout kHKMoTw = {2,
                        14,
                        {{0, 30, kText},
                         {30, 2, kSex},
                         {32, 4, kText},
                         {36, 16, kText},
                         {52, 70, kText},
                         {122, 36, kText},
                         {158, 30, kText},
                         {188, 16, kText},
                         {204, 16, kText},
                         {220, 18, kText},
                         {238, 4, kText},
                         {242, 6, kText},
                         {248, 2, kText},
                         {250, 6, kText}}};

// The card kind of a block; a block too short to hold byte 248 is read as a resident card.
const Layout& LayoutOf(const unsigned char* block, int length) {
    if (length < kKindOffset + 2 || block[kKindOffset + 1] != 0) return kResident;
    if (block[kKindOffset] == 'I') return kForeigner;
    if (block[kKindOffset] == 'J') return kHKMoTw;
    return kResident;
}

void TrimTrailingBlanks(char* text) {
    size_t length = std::strlen(text);
    while (length > 0 && std::strchr(" \t\n\r", text[length - 1])) text[--length] = '\0';
}

int ParseLayout(const Layout& layout, const unsigned char* block, int length,
                char* const outputs[]) {
    if (!block || length != kTextBlockSize || &LayoutOf(block, length) != &layout)
        return CARDGATE_BAD_ARGUMENT;
    for (int i = 0; i < layout.count; ++i) {
        const Field& field = layout.fields[i];
        if (!outputs[i]) continue;
        outputs[i][0] = '\0';
        const int converted =
            GetIDUnicodeInfo(field.kind, field.length, block + field.offset, outputs[i]);
        if (converted != 0) return converted;
    }
    return 0;
}

}  // namespace
}  // namespace cardgate

using namespace cardgate;

int GetIDNation(const char* code, int len, char* out) {
    if (!out) return CARDGATE_BAD_ARGUMENT;
    int number = 0;
    if (code && len > 0 && len % 2 == 0) number = (code[0] - '0') * 10 + (code[1] - '0');
    const char* entry = NationEntry(number);
    if (entry) std::strcpy(out, entry);
    return 0;
}

int GetCountry(const char* code, char* out) {
    if (!out) return CARDGATE_BAD_ARGUMENT;
    if (const char* name = CountryName(code)) std::strcpy(out, name);
    return 0;
}

int GetIDUnicodeInfo(int kind, int len, const unsigned char* src, char* out) {
    if (!src || !out || len < 0) return CARDGATE_BAD_ARGUMENT;
    std::array<char, kFieldRoom> text{};
    if (len > (kFieldRoom - 1) / 4) return CARDGATE_BAD_ARGUMENT;
    const int converted = WCToMB(src, text.data(), len);
    if (converted != 0) return converted;
    switch (kind) {
        case kSex: std::strcpy(out, SexText(text.data())); return 0;
        case kNation: return GetIDNation(text.data(), int(std::strlen(text.data())), out);
        case kCountry: return GetCountry(text.data(), out);
        default:
            TrimTrailingBlanks(text.data());
            std::strcpy(out, text.data());
            return 0;
    }
}

int ParseCHNIDTextInfo(const unsigned char* text, int textLen, char* name, char* sex, char* nation,
                       char* birth, char* address, char* idNumber, char* authority, char* validFrom,
                       char* validUntil, char* extra) {
    char* const outputs[] = {name,     sex,       nation,    birth,      address,
                             idNumber, authority, validFrom, validUntil, extra};
    return ParseLayout(kResident, text, textLen, outputs);
}

int ParseForeignerTextInfo(const unsigned char* text, int textLen, char* englishName, char* sex,
                           char* cardNumber, char* nationality, char* chineseName, char* validFrom,
                           char* validUntil, char* birth, char* cardVersion, char* authorityCode,
                           char* cardKind, char* reserved) {
    char* const outputs[] = {englishName, sex,   cardNumber,  nationality,   chineseName, validFrom,
                             validUntil,  birth, cardVersion, authorityCode, cardKind,    reserved};
    return ParseLayout(kForeigner, text, textLen, outputs);
}

int ParseHKMoTwTextInfo(const unsigned char* text, int textLen, char* name, char* sex,
                        char* field32, char* birth, char* address, char* idNumber, char* authority,
                        char* validFrom, char* validUntil, char* passNumber, char* issueCount,
                        char* field242, char* cardKind, char* reserved) {
    char* const outputs[] = {name,       sex,       field32,   birth,      address,
                             idNumber,   authority, validFrom, validUntil, passNumber,
                             issueCount, field242,  cardKind,  reserved};
    return ParseLayout(kHKMoTw, text, textLen, outputs);
}

int _SDT_ParseIDCardTextInfo(const unsigned char* text, int textLen, int* cardKind, char* out) {
    if (!text) return CARDGATE_BAD_ARGUMENT;
    const Layout& layout = LayoutOf(text, textLen);
    if (cardKind) *cardKind = layout.cardKind;
    std::array<std::array<char, kFieldRoom>, 14> fields{};
    int result = CARDGATE_BAD_ARGUMENT;
    if (textLen == kTextBlockSize) {
        char* outputs[14];
        for (int i = 0; i < 14; ++i) outputs[i] = fields[size_t(i)].data();
        result = ParseLayout(layout, text, textLen, outputs);
    }
    if (!out) return result;
    std::string line;
    for (int i = 0; i < layout.count; ++i) {
        if (result == 0) line += fields[size_t(i)].data();
        line += '|';
    }
    std::snprintf(out, kLineRoom, "%s", line.c_str());
    return result;
}
