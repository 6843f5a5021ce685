// Tesseract over one picture file, with the Simplified Chinese data (which reads digits and
// Latin letters too).
#pragma once

#include <string>

namespace cardvision {

enum RecognitionCode : int {
    kRecognised = 0,
    kPictureUnreadable = -1,
    kLanguageDataMissing = -2,
    kEngineFailed = -3,
    kNoCardFields = -4,
};

struct RecognitionResult {
    int code = kRecognised;
    std::string text;  // the recognised text, or why there is none
};

// The folder searched for the language data: $TESSDATA_PREFIX when set, else the system's.
std::string language_data_folder();

// Recognises the text of the picture at `picture_path`.
RecognitionResult recognise_picture(const std::string& picture_path);

}  // namespace cardvision
