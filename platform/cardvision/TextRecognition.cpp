#include "TextRecognition.h"

#include <leptonica/allheaders.h>
#include <sys/stat.h>
#include <tesseract/baseapi.h>

#include <cstdlib>
#include <memory>

namespace cardvision {

namespace {

constexpr const char* kLanguage = "chi_sim";
// Pictures narrower than this are enlarged first: the engine reads characters best when they
// are some 30 pixels high, and a card's small labels are far less in a small picture.
constexpr int kSmallestWidth = 1000;
constexpr int kLargestEnlargement = 4;

bool is_regular_file(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

struct PixDeleter {
    void operator()(Pix* picture) const { pixDestroy(&picture); }
};
using Picture = std::unique_ptr<Pix, PixDeleter>;

Picture read_picture(const std::string& path) {
    // A path that is not a plain file (a FIFO, a device) is not opened at all.
    if (!is_regular_file(path)) return nullptr;
    Picture picture(pixRead(path.c_str()));
    if (!picture) return nullptr;
    const int width = pixGetWidth(picture.get());
    if (width <= 0 || width >= kSmallestWidth) return picture;
    int factor = (kSmallestWidth + width - 1) / width;
    if (factor > kLargestEnlargement) factor = kLargestEnlargement;
    Picture enlarged(pixScale(picture.get(), float(factor), float(factor)));
    return enlarged ? std::move(enlarged) : std::move(picture);
}

// The engine's text without the line ends and blanks it puts after the last line.
std::string trimmed(const char* text) {
    std::string result = text ? text : "";
    while (!result.empty() && (result.back() == '\n' || result.back() == ' ')) result.pop_back();
    return result;
}

}  // namespace

std::string language_data_folder() {
    const char* configured = std::getenv("TESSDATA_PREFIX");
    if (configured != nullptr && *configured != '\0') return configured;
    return CARDVISION_TESSDATA_DIR;
}

RecognitionResult recognise_picture(const std::string& picture_path) {
    const std::string folder = language_data_folder();
    const std::string data_file = folder + "/" + kLanguage + ".traineddata";
    if (!is_regular_file(data_file)) {
        return {kLanguageDataMissing, "缺少文字识别语言数据：" + data_file};
    }
    Picture picture = read_picture(picture_path);
    if (!picture) return {kPictureUnreadable, "无法读取图片：" + picture_path};

    tesseract::TessBaseAPI engine;
    if (engine.Init(folder.c_str(), kLanguage) != 0) {
        return {kEngineFailed, "文字识别引擎无法启动：" + data_file};
    }
    engine.SetImage(picture.get());
    std::unique_ptr<char[]> text(engine.GetUTF8Text());
    engine.End();
    return {kRecognised, trimmed(text.get())};
}

}  // namespace cardvision
