// A local file that closes itself.
#pragma once

#include <cstdio>
#include <memory>

namespace countermate::terminal {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using LocalFile = std::unique_ptr<FILE, FileCloser>;

}  // namespace countermate::terminal
