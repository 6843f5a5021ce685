// A card library (libSSCardDriver.so) for the card-library path of the service: each entry
// answers with the arguments it was given, so a test sees what the service handed over.
// A key of "refused" makes the second HSM step fail with a text of the library's own.
#include <cstdio>
#include <cstring>

#define ENTRY extern "C" __attribute__((visibility("default"))) int

namespace {
constexpr size_t kOutputCapacity = 1024;
}

ENTRY iReadCardBas(int card_type, char* out) {
    std::snprintf(out, kOutputCapacity, "library|iReadCardBas|%d|", card_type);
    return 0;
}

ENTRY iReadCardBas_HSM_Step1(int card_type, char* out) {
    std::snprintf(out, kOutputCapacity, "library|Step1|%d|", card_type);
    return 0;
}

ENTRY iReadCardBas_HSM_Step2(char* key, char* out) {
    if (std::strcmp(key, "refused") == 0) {
        std::snprintf(out, kOutputCapacity, "密钥校验失败 \"%s\"", key);
        return -25;
    }
    std::snprintf(out, kOutputCapacity, "library|Step2|%s|", key);
    return 0;
}

ENTRY iReadBankCard(int card_kind, char* out) {
    std::snprintf(out, kOutputCapacity, "library|bank|%d|", card_kind);
    return 0;
}

ENTRY iReadSFZ(int mode, int photo_kind, char* photo, char* reserved, char* out) {
    std::strcpy(photo, "UEhPVE8=");
    std::snprintf(out, kOutputCapacity,
                  "OK%d%d张三|男|汉|19900101|北京市东城区|110101199001011234|", mode, photo_kind);
    return reserved[0] == '\0' ? 0 : -1;
}
