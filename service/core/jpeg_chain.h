// A terminal-camera picture transformed step by step with the JPEG library (libpixelwork).
//
// Each step reads the current picture and writes into the work buffer; on success the result
// replaces the picture, on failure the step's text is logged under the chain's function name
// and the picture stays as it was. The chain's result is that of the last step run (0 when no
// step ran), so a failed rotation followed by a successful cut is a success.
#pragma once

#include <cstddef>
#include <vector>

namespace countermate {

class JpegChain {
public:
    // `picture` holds the JPEG bytes and is replaced by each successful step; `work_capacity` is
    // the work buffer's size (3 MiB for preview frames, 2 MiB for photos).
    JpegChain(std::vector<unsigned char>& picture, size_t work_capacity, const char* function);

    void rotate(int quarter_turns, const char* failure_text);
    void mark_edges(const char* failure_text);
    // Zooms by `factor` (above 0, at most the 5.0 limit).
    void zoom(float factor, const char* failure_text);
    // Cuts out the document and straightens it, searching at scale `factor`.
    void cut_and_straighten(float factor, const char* failure_text);

    int result() const { return result_; }

private:
    template <typename Step>
    void run(const char* failure_text, Step step);

    std::vector<unsigned char>& picture_;
    std::vector<unsigned char> work_;
    const char* function_;
    int result_ = 0;
};

}  // namespace countermate
