#include "jpeg_chain.h"

#include "DEV_HUB.h"
#include "driver_entries.h"

namespace countermate {

JpegChain::JpegChain(std::vector<unsigned char>& picture, size_t work_capacity,
                     const char* function)
    : picture_(picture), work_(work_capacity), function_(function) {}

template <typename Step>
void JpegChain::run(const char* failure_text, Step step) {
    int length = 0;
    result_ = step(picture_.data(), static_cast<int>(picture_.size()), work_.data(), &length);
    if (result_ != 0 || length <= 0 || static_cast<size_t>(length) > work_.size()) {
        if (result_ == 0) result_ = -1;
        SERVICE_LOG(LOG_LEVEL_ERROR, function_, "%s", failure_text);
        return;
    }
    picture_.assign(work_.begin(), work_.begin() + length);
}

void JpegChain::rotate(int quarter_turns, const char* failure_text) {
    run(failure_text,
        [quarter_turns](unsigned char* source, int length, unsigned char* out, int* out_length) {
            return jpegtranspose(1, quarter_turns, source, length, out, out_length);
        });
}

void JpegChain::mark_edges(const char* failure_text) {
    run(failure_text, [](unsigned char* source, int length, unsigned char* out, int* out_length) {
        return jpegedge(source, length, out, out_length);
    });
}

void JpegChain::zoom(float factor, const char* failure_text) {
    run(failure_text,
        [factor](unsigned char* source, int length, unsigned char* out, int* out_length) {
            return jpegzoom(source, length, out, out_length, factor, 5.0f);
        });
}

void JpegChain::cut_and_straighten(float factor, const char* failure_text) {
    run(failure_text,
        [factor](unsigned char* source, int length, unsigned char* out, int* out_length) {
            return jpegcutandrotate(source, length, out, out_length, factor);
        });
}

}  // namespace countermate
