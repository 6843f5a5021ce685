// Whole files for the driver's tests: written and read back in one call.
#pragma once

#include <cstdio>
#include <string>

namespace countermate::terminal::testing {

// Writes `content` to `path`, replacing what was there; returns `path`.
inline std::string WriteTestFile(const std::string& path, const std::string& content) {
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
    return path;
}

// The content of `path`; empty when it cannot be read.
inline std::string ReadTestFile(const std::string& path) {
    std::string content;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
            content.append(buffer, count);
        }
        std::fclose(file);
    }
    return content;
}

}  // namespace countermate::terminal::testing
