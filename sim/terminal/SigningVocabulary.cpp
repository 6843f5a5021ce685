// The document signing commands of the simulated terminal app. Each keeps the document the
// driver pushed, answers with the members the driver reads (outcome, counts, result paths) and
// leaves the results in storage where the driver pulls them from: the signed document (the
// pushed PDF with an incremental update appended, the pushed OFD package with a signing note in
// its archive comment), signature images, the signature track, fingerprint images and a video.
//
// A script's `data_members` set the outcome and the counts: `statusCode` 4 refuses a points
// signing, `confirmResult` 3 or 4 time out or cancel a coordinates signing, `signImgCount` 3
// makes three signature images. The OFD commands report their outcome at the top level, where a
// script's `status_code` sets it.
#include <cjson/cJSON.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "VocabularyParts.h"

namespace countermate::sim {
namespace {

constexpr const char* kSourcePdf = "/sdcard/ZR/CounterMate/temp/srcPdf.pdf";
constexpr const char* kShowPdfSignDocument = "/sdcard/ZR/CounterMate/temp/temp.pdf";
constexpr const char* kOfdDocument = "/sdcard/ZR/CounterMate/sign/ofd/0.ofd";
constexpr const char* kOut = "/sdcard/ZR/CounterMate/out/sign/";
// Where this terminal leaves the OFD signing's pictures and data (it names them in its answer).
constexpr const char* kOfdSignImage = "/sdcard/ZR/CounterMate/out/sign/ofd/signImg.jpg";
constexpr const char* kOfdSignData = "/sdcard/ZR/CounterMate/out/sign/ofd/signData.xml";
constexpr const char* kOfdFingerImage = "/sdcard/ZR/CounterMate/out/sign/ofd/fingerImg.jpg";

std::string Out(const std::string& rest) { return kOut + rest; }

bool Signs(int sign_type) { return sign_type == 1 || sign_type == 3; }
bool PressesFinger(int sign_type) { return sign_type == 2 || sign_type == 3; }

// The integer member `name` of `data` as a script set it, or `fallback`, which is then added.
int Preset(cJSON* data, const char* name, int fallback) {
    const cJSON* member = cJSON_GetObjectItemCaseSensitive(data, name);
    if (cJSON_IsNumber(member)) return member->valueint;
    cJSON_AddNumberToObject(data, name, fallback);
    return fallback;
}

// ---- what a signing produces ----

// The value after the last `key` in `text`, or -1.
long LastNumberAfter(const std::string& text, const char* key) {
    const size_t found = text.rfind(key);
    if (found == std::string::npos) return -1;
    return std::strtol(text.c_str() + found + std::strlen(key), nullptr, 10);
}

// The reference after the last "/Root" ("1 0 R"), or empty.
std::string RootReference(const std::string& pdf) {
    const size_t found = pdf.rfind("/Root");
    if (found == std::string::npos) return "";
    const size_t end = pdf.find('R', found + 5);
    if (end == std::string::npos || end - found > 32) return "";
    std::string reference = pdf.substr(found + 5, end + 1 - (found + 5));
    while (!reference.empty() && reference.front() == ' ') reference.erase(0, 1);
    return reference;
}

// The pushed PDF with one incremental update appended: a signature dictionary as a new object,
// its cross-reference section and a trailer that points back at the document's own.
std::string SignedPdf(const std::string& pushed) {
    const long previous = LastNumberAfter(pushed, "startxref");
    const long size = std::max(1L, LastNumberAfter(pushed, "/Size"));
    const std::string root = RootReference(pushed);
    std::string signed_pdf = pushed;
    if (signed_pdf.empty() || signed_pdf.back() != '\n') signed_pdf += '\n';
    const size_t object_offset = signed_pdf.size();
    signed_pdf += std::to_string(size) +
                  " 0 obj\n<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached"
                  " /Name (Simulated customer) /M (D:20260101120000Z) /Contents <00> >>\nendobj\n";
    const size_t xref_offset = signed_pdf.size();
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", object_offset);
    signed_pdf += "xref\n" + std::to_string(size) + " 1\n" + entry;
    signed_pdf += "trailer\n<< /Size " + std::to_string(size + 1);
    if (!root.empty()) signed_pdf += " /Root " + root;
    if (previous >= 0) signed_pdf += " /Prev " + std::to_string(previous);
    signed_pdf += " >>\nstartxref\n" + std::to_string(xref_offset) + "\n%%EOF\n";
    return signed_pdf;
}

// The pushed OFD package (a ZIP archive) with a signing note added to its archive comment, so it
// stays a valid archive; anything else is kept as it is with the note after it.
std::string SignedOfd(const std::string& pushed) {
    static const std::string kNote = " signed on the simulated terminal";
    constexpr size_t kEndRecordBytes = 22;
    const size_t end = pushed.size() >= kEndRecordBytes ? pushed.rfind(std::string("PK\x05\x06", 4))
                                                        : std::string::npos;
    if (end == std::string::npos || end + kEndRecordBytes > pushed.size()) return pushed + kNote;
    const size_t comment_length = static_cast<unsigned char>(pushed[end + 20]) |
                                  static_cast<unsigned char>(pushed[end + 21]) << 8;
    if (end + kEndRecordBytes + comment_length != pushed.size()) return pushed + kNote;
    std::string signed_ofd = pushed + kNote;
    const size_t length = comment_length + kNote.size();
    signed_ofd[end + 20] = static_cast<char>(length & 0xFF);
    signed_ofd[end + 21] = static_cast<char>(length >> 8 & 0xFF);
    return signed_ofd;
}

// The `index`-th signature picture: a stroke that each signature draws a little differently.
std::string SignatureJpeg(int index) {
    return GreyJpeg(320, 160, [index](int x, int y) {
        const double stroke = 80 + 30 * std::sin((x + 17 * index) / 25.0);
        return static_cast<uint8_t>(x > 30 && x < 290 && std::abs(y - stroke) < 2 ? 0 : 255);
    });
}

std::string FingerprintJpeg(int index) {
    return GreyJpeg(160, 192, [index](int x, int y) { return RidgeShade(x + index, y, 160, 192); });
}

std::string SignatureTrackXml() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<signTrack encoding=\"base64\">" +
           Base64(SignatureTrack()) + "</signTrack>\n";
}

// A short MP4 file: its type box and a media box of frame bytes.
std::string VideoMp4() {
    const auto box = [](const char* type, const std::string& body) {
        const uint32_t size = static_cast<uint32_t>(8 + body.size());
        std::string bytes{static_cast<char>(size >> 24), static_cast<char>(size >> 16 & 0xFF),
                          static_cast<char>(size >> 8 & 0xFF), static_cast<char>(size & 0xFF)};
        return bytes + type + body;
    };
    std::string frames(4096, '\0');
    for (size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<char>(i * 31 % 251);
    return box("ftyp", std::string("isom\0\0\x02\0isomiso2mp41", 20)) + box("mdat", frames);
}

// ---- the PDF signings ----

struct PdfResults {
    int pdf_count;
    int sign_images;
    int finger_images;
    bool video;
};

bool WritePdfResults(const Storage& storage, const PdfResults& results) {
    bool written = true;
    if (results.pdf_count > 0) {
        written &= storage.Write(Out("pdf/") + std::to_string(results.pdf_count),
                                 SignedPdf(storage.Read(kSourcePdf)));
    }
    for (int index = 0; index < results.sign_images; ++index) {
        written &= storage.Write(Out("signImg/") + std::to_string(index), SignatureJpeg(index));
    }
    if (results.sign_images > 0) {
        written &= storage.Write(Out("signXml/signTrack64.xml"), SignatureTrackXml());
        written &=
            storage.Write(std::string(kTempOtherCase) + "voice_signatrue.txt", SignatureTrack());
    }
    for (int index = 0; index < results.finger_images; ++index) {
        written &= storage.Write(Out("fingerImg/") + std::to_string(index), FingerprintJpeg(index));
    }
    if (results.video) written &= storage.Write(Out("video/sign.mp4"), VideoMp4());
    return written;
}

// The counts of a PDF signing, as a script set them or as the sign type makes them.
PdfResults PresetCounts(cJSON* data, int sign_type, bool video) {
    return {Preset(data, "pdfCount", sign_type == 0 ? 0 : 1),
            Preset(data, "signImgCount", Signs(sign_type) ? 1 : 0),
            Preset(data, "fingerImgCount", PressesFinger(sign_type) ? 1 : 0), video};
}

// "ShowPdfSignOrFinger": the terminal chooses the signing places.
Behaviour PdfPoints(const Storage& storage) {
    return Pushed(storage, kSourcePdf, [storage](const cJSON* param, cJSON* data) {
        if (!HasParam(param, "timeout") || !HasParam(param, "signtype")) return false;
        const int sign_type = IntegerParam(param, "signtype");
        Preset(data, "statusCode", 0);
        return WritePdfResults(storage, PresetCounts(data, sign_type, false));
    });
}

// "ShowPdfSignOrFingerCoordinates": the caller gives the signing places.
Behaviour PdfCoordinates(const Storage& storage) {
    return Pushed(storage, kSourcePdf, [storage](const cJSON* param, cJSON* data) {
        if (TextParam(param, "pos") == nullptr || !HasParam(param, "isVideo")) return false;
        const int sign_type = IntegerParam(param, "signtype");
        Preset(data, "confirmResult", 1);
        return WritePdfResults(storage,
                               PresetCounts(data, sign_type, IntegerParam(param, "isVideo") == 1));
    });
}

// "ShowPdfSign": the pictures and the track stay in the terminal's temporary folder.
Behaviour ShowPdfSign(const Storage& storage) {
    return Pushed(storage, kShowPdfSignDocument, [storage](const cJSON* param, cJSON*) {
        if (!HasParam(param, "timeOut")) return false;
        const int sign_type = IntegerParam(param, "signtype");
        bool written = true;
        if (Signs(sign_type)) {
            written &= storage.Write(TempPath("signatrue.png"), SignaturePng());
            written &= storage.Write(TempPath("signatrue.txt"), SignatureTrack());
        }
        if (PressesFinger(sign_type)) {
            written &= storage.Write(TempPath("bitmaRed.png"), FingerprintPng(256, 288));
        }
        return written;
    });
}

// "ShowPdfSignMultiDoc": each document sent with "TransFileCount" comes back signed at the path
// the answer names.
Behaviour PdfMultiDocument(const Storage& storage) {
    return [storage](const cJSON* param, cJSON* data) {
        const int count = IntegerParam(param, "fileCount");
        if (count < 1 || !HasParam(param, "voice")) return false;
        Preset(data, "confirmResult", 1);
        for (int index = 1; index <= count; ++index) {
            const std::string number = std::to_string(index);
            const std::string pushed = "/sdcard/ZR/CounterMate/trans/file" + number;
            const std::string signed_path = Out("pdf/multi") + number + ".pdf";
            if (TextParam(param, ("file" + number + "Pos").c_str()) == nullptr ||
                !storage.Exists(pushed) ||
                !storage.Write(signed_path, SignedPdf(storage.Read(pushed)))) {
                return false;
            }
            cJSON_AddStringToObject(data, ("file" + number + "Path").c_str(), signed_path.c_str());
        }
        return IntegerParam(param, "isVideo") != 1 ||
               storage.Write(Out("video/sign.mp4"), VideoMp4());
    };
}

// ---- the OFD signings ----

// "ShowOfdSignOrFinger" and, with `positions`, "ShowOfdSignOrFingerCoordinates".
Behaviour Ofd(const Storage& storage, bool positions) {
    return Pushed(storage, kOfdDocument, [storage, positions](const cJSON* param, cJSON* data) {
        if (TextParam(param, "voice") == nullptr ||
            (positions && TextParam(param, "pos") == nullptr)) {
            return false;
        }
        const int sign_type = IntegerParam(param, "signtype");
        bool written = storage.Write(Out("ofd/signed.ofd"), SignedOfd(storage.Read(kOfdDocument)));
        const auto leave = [&](const char* member, const char* path, const std::string& bytes) {
            written &= storage.Write(path, bytes);
            cJSON_AddStringToObject(data, member, path);
        };
        if (Signs(sign_type)) {
            leave("signPath", kOfdSignImage, SignatureJpeg(0));
            leave("signDataPath", kOfdSignData, SignatureTrackXml());
        }
        if (PressesFinger(sign_type)) leave("fingerPath", kOfdFingerImage, FingerprintJpeg(0));
        if (IntegerParam(param, "isVideo") == 1) {
            written &= storage.Write(Out("video/signedVideo.mp4"), VideoMp4());
        }
        return written;
    });
}

}  // namespace

void AddSigningVocabulary(TerminalSimulator& simulator) {
    const Storage storage(simulator);
    const std::pair<const char*, Behaviour> table[] = {
        {"ShowPdfSign", ShowPdfSign(storage)},
        {"ShowPdfSignOrFinger", PdfPoints(storage)},
        {"ShowPdfSignOrFingerWithCms", PdfPoints(storage)},
        {"ShowPdfSignOrFingerCoordinates", PdfCoordinates(storage)},
        {"ShowPdfSignOrFingerCoordinatesWithCms", PdfCoordinates(storage)},
        {"ShowPdfSignMultiDoc", PdfMultiDocument(storage)},
        {"ShowOfdSignOrFinger", Ofd(storage, false)},
        {"ShowOfdSignOrFingerWithCms", Ofd(storage, false)},
        {"ShowOfdSignOrFingerCoordinates", Ofd(storage, true)},
        {"ShowOfdSignOrFingerCoordinatesWithCms", Ofd(storage, true)},
    };
    for (const auto& [command, behaviour] : table) simulator.AddBehaviour(command, behaviour);
}

}  // namespace countermate::sim
