#include "SyntheticCard.h"

#include <sys/stat.h>

#include <opencv2/freetype.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace cardvision::testing {

namespace {

const cv::Scalar kCardColour(235, 240, 245);
const cv::Scalar kInk(20, 20, 20);
constexpr int kLabelHeight = 26;
constexpr int kValueHeight = 32;

class CardPainter {
public:
    CardPainter()
        : picture_(540, 856, CV_8UC3, kCardColour), font_(cv::freetype::createFreeType2()) {
        font_->loadFontData(card_font(), 0);
    }
    void text(const std::string& text, int x, int y, int height) {
        font_->putText(picture_, text, {x, y}, height, kInk, -1, cv::LINE_AA, true);
    }
    void label(const std::string& text, int x, int y) { this->text(text, x, y, kLabelHeight); }
    void value(const std::string& text, int x, int y) { this->text(text, x, y, kValueHeight); }
    bool write(const std::string& path) const { return cv::imwrite(path, picture_); }

private:
    cv::Mat picture_;
    cv::Ptr<cv::freetype::FreeType2> font_;
};

}  // namespace

std::string card_font() {
    const std::string path = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? path : std::string();
}

bool write_front(const CardFront& front, const std::string& path) {
    if (card_font().empty()) return false;
    CardPainter card;
    card.label("姓名", 60, 80);
    card.value(front.name, 160, 80);
    card.label("性别", 60, 140);
    card.value(front.sex, 160, 140);
    card.label("民族", 300, 140);
    card.value(front.nationality, 400, 140);
    card.label("出生", 60, 200);
    card.value(front.birth_year, 160, 200);
    card.label("年", 240, 200);
    card.value(front.birth_month, 290, 200);
    card.label("月", 330, 200);
    card.value(front.birth_day, 370, 200);
    card.label("日", 410, 200);
    card.label("住址", 60, 260);
    card.value(front.address_first_line, 160, 260);
    card.value(front.address_second_line, 160, 305);
    card.label("公民身份号码", 60, 460);
    card.value(front.id_number, 260, 460);
    return card.write(path);
}

bool write_back(const CardBack& back, const std::string& path) {
    if (card_font().empty()) return false;
    CardPainter card;
    card.text("中华人民共和国", 300, 110, 40);
    card.text("居民身份证", 330, 180, 50);
    card.label("签发机关", 160, 400);
    card.value(back.issuing_authority, 300, 400);
    card.label("有效期限", 160, 460);
    card.value(back.validity, 300, 460);
    return card.write(path);
}

bool write_text_lines(const std::vector<std::string>& lines, const std::string& path) {
    if (card_font().empty()) return false;
    CardPainter page;
    int y = 80;
    for (const std::string& line : lines) {
        page.value(line, 60, y);
        y += 60;
    }
    return page.write(path);
}

}  // namespace cardvision::testing
