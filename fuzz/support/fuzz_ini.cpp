// Arbitrary bytes as the content of an INI file. Whatever they are, every value read is a
// terminated text within its 1024 bytes, and rewriting a key that the file does not hold
// leaves every byte of the file as it was.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "AUX_X.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

// A file in a folder of its own, memory-backed when the machine has /dev/shm (every input is
// written and rewritten twice), removed with its folder when the run ends.
class ScratchFile {
public:
    ScratchFile() {
        for (const char* base : {"/dev/shm", "/tmp"}) {
            m_folder = std::string(base) + "/fuzz_ini.XXXXXX";
            if (mkdtemp(m_folder.data()) != nullptr) return;
        }
        abort();
    }
    ~ScratchFile() {
        unlink(path().c_str());
        unlink((path() + ".tmp").c_str());
        rmdir(m_folder.c_str());
    }
    std::string path() const { return m_folder + "/CONFIG.ini"; }

private:
    std::string m_folder;
};

const std::string& scratch_file() {
    static const ScratchFile file;
    static const std::string path = file.path();
    return path;
}

std::string read_whole(const std::string& path) {
    std::ifstream input(path, std::ios::binary);
    std::ostringstream content;
    content << input.rdbuf();
    return content.str();
}

void write_whole(const std::string& path, const uint8_t* data, size_t size) {
    FILE* output = std::fopen(path.c_str(), "wb");
    check(output != nullptr);
    check(std::fwrite(data, 1, size, output) == size);
    std::fclose(output);
}

void read_keys(const char* file) {
    for (const char* section : {"SERVER", "DEVICE", ""}) {
        for (const char* key : {"Port", "=", ""}) {
            char value[1024];
            std::memset(value, 'x', sizeof value);
            if (AUX_X::X_INIKeyString(file, section, key, value, "fallback")) {
                check(std::memchr(value, '\0', sizeof value) != nullptr);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& file = scratch_file();
    write_whole(file, data, size);
    read_keys(file.c_str());

    const std::string before(reinterpret_cast<const char*>(data), size);
    const char* absent_key = "\x01NoSuchKey\x02";
    if (before.find(absent_key) == std::string::npos) {
        check(AUX_X::W_INIKeyString("SERVER", absent_key, "value", file.c_str()) == 0);
        check(read_whole(file) == before);
    }
    check(AUX_X::W_INIKeyString("SERVER", "Port", "9600", file.c_str()) == 0);
    read_keys(file.c_str());
    return 0;
}
