#include "cardvision.h"

#include <cstddef>
#include <cstring>
#include <string>

#include "CardFields.h"
#include "TextRecognition.h"

namespace {

constexpr size_t kPictureTextCapacity = 1024 * 1024;
constexpr size_t kCardTextCapacity = 1024;

// Copies `text` into `out` of `capacity` bytes, terminated; a text that does not fit is cut
// before the character that would cross the end, so the output stays valid UTF-8.
void write_bounded(const std::string& text, char* out, size_t capacity) {
    if (out == nullptr || capacity == 0) return;
    size_t length = text.size();
    if (length > capacity - 1) {
        length = capacity - 1;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

cardvision::RecognitionResult recognise(const char* picture_path) {
    if (picture_path == nullptr || *picture_path == '\0') {
        return {cardvision::kPictureUnreadable, "没有给出图片路径"};
    }
    return cardvision::recognise_picture(picture_path);
}

// Recognises the picture and turns its text into the line of one card side with `parse_side`,
// which tells through its `found` argument whether any field of that side was there.
template <typename ParseSide>
int recognise_card_side(const char* picture_path, char* text, const char* missing_text,
                        ParseSide parse_side) {
    cardvision::RecognitionResult result = recognise(picture_path);
    if (result.code == cardvision::kRecognised) {
        bool found = false;
        std::string line = parse_side(result.text, found);
        if (found) {
            result.text = line;
        } else {
            result = {cardvision::kNoCardFields, missing_text};
        }
    }
    write_bounded(result.text, text, kCardTextCapacity);
    return result.code;
}

}  // namespace

int GetJPEGInfo(const char* picture_path, char* text) {
    const cardvision::RecognitionResult result = recognise(picture_path);
    write_bounded(result.text, text, kPictureTextCapacity);
    return result.code;
}

int GetFrontInfo(const char* picture_path, char* text) {
    return recognise_card_side(picture_path, text, "图片中没有识别出身份证正面的信息",
                               [](const std::string& recognised, bool& found) {
                                   const cardvision::FrontFields fields =
                                       cardvision::parse_front(recognised);
                                   found = !fields.empty();
                                   return cardvision::front_line(fields);
                               });
}

int GetBackInfo(const char* picture_path, char* text) {
    return recognise_card_side(picture_path, text, "图片中没有识别出身份证背面的信息",
                               [](const std::string& recognised, bool& found) {
                                   const cardvision::BackFields fields =
                                       cardvision::parse_back(recognised);
                                   found = !fields.empty();
                                   return cardvision::back_line(fields);
                               });
}
