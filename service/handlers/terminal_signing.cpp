// Document signing on the terminal: the customer reads a PDF (or, for the ShowDocument requests,
// an OFD) document, signs it by hand, presses a fingerprint on it, or both, maybe on video, and
// the page gets back the signed document, the signature picture and data, the fingerprint
// picture and the video, as files the driver writes here or as Base64 texts in the reply.
//
// The document comes as a path, or as Base64 content (fileForm, or dataForm for the ShowDocument
// requests, not 0) decoded into a temporary file beside the library and removed after the
// request. Content that cannot be decoded is the result, with an empty errMsg, and the terminal
// is not used. The ShowPdf requests close the port by the closing rule; the ShowDocument
// requests leave it open. A failed request carries no result texts.
//
// Keys without a default of their own: outTimes 0 (the driver's own wait of 60 seconds), except
// ShowPdfSignOrFingerCoordinates, 30; signType 0 (read and confirm); isVideo 0; pdfCout 0 (the
// driver refuses it: no document).
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "DEV_HUB.h"
#include "OutputCapacities.h"
#include "handler_args.h"
#include "reply_format.h"
#include "terminal_call.h"
#include "terminal_replies.h"

using countermate::FileArgument;
using countermate::HandlerArgs;
using countermate::LocalPath;
using countermate::OutputText;
using countermate::PathUse;
using countermate::PortClosing;
using countermate::TerminalResult;
using countermate::format_reply;

namespace {

constexpr int kPdfCoordinatesWait = 30;

// The short reply every signing request has: {"method":NAME,"retVal":%d,"errMsg":"%s"}.
std::string short_reply(const char* method, int code, const std::string& error_text) {
    const std::string reply_template = std::string(R"({"method":")") + method +
                                       R"(","retVal":%d,"errMsg":"%s"})";
    return format_reply(reply_template.c_str(), {code, error_text});
}

// The Base64 texts a driver operation allocates and hands over through text pointers; each
// starts null and is released with free when this goes. A text not handed over reads empty.
class DriverTexts {
public:
    DriverTexts() = default;
    ~DriverTexts() {
        for (char* text : texts_) std::free(text);
    }
    DriverTexts(const DriverTexts&) = delete;
    DriverTexts& operator=(const DriverTexts&) = delete;

    char** out(int index) { return &texts_[index]; }
    const char* text(int index) const { return texts_[index] != nullptr ? texts_[index] : ""; }

private:
    char* texts_[5] = {};
};

// One signing request on the terminal: the document (checked, or decoded), the local paths the
// operation writes (checked), the operation, and the port by `closing`.
struct Signing {
    TerminalResult result;
    bool decode_failed = false;
};

Signing run_signing(FileArgument& document, PortClosing closing,
                    const std::vector<LocalPath>& paths,
                    const std::function<int(char* document)>& operation) {
    Signing signing;
    signing.result = countermate::call_terminal(
        *ctm, closing, [] { return m_Dev_Hub.m_isCancelOpt.load(); },
        [&] { return operation(document.path()); },
        [&] {
            TerminalResult prepared = document.prepare();
            signing.decode_failed = document.is_base64() && prepared.code != 0;
            if (prepared.code != 0) return prepared;
            return countermate::check_local_paths(paths);
        });
    return signing;
}

// The ShowPdf requests: fileForm, "temp.pdf", the port closed by the closing rule.
Signing run_pdf_signing(const HandlerArgs& args, const std::vector<LocalPath>& paths,
                        const std::function<int(char* document)>& operation) {
    FileArgument document(args, "temp.pdf");
    return run_signing(document, PortClosing::UnlessCancelling, paths, operation);
}

// The ShowDocument requests: dataForm, "temp.ofd" for docType not 0 (else "temp.pdf"), the port
// left open.
Signing run_document_signing(const HandlerArgs& args, const std::vector<LocalPath>& paths,
                             const std::function<int(char* document)>& operation) {
    FileArgument document(args, args.integer("docType", 0) != 0 ? "temp.ofd" : "temp.pdf",
                          "fileData", "dataForm");
    return run_signing(document, PortClosing::LeftOpen, paths, operation);
}

// The reply of a request whose decode failure answers in the short template without a text.
std::string short_signing_reply(const char* method, const Signing& signing) {
    return short_reply(method, signing.result.code,
                       signing.decode_failed ? std::string() : signing.result.error_text);
}

// The integers of the ShowDocument requests, in the order the driver takes them.
struct DocumentSettings {
    int timeout;
    int record_video;
    int sign_type;
};

DocumentSettings document_settings(const HandlerArgs& args) {
    return {args.integer("outTimes", 0), args.integer("isVideo", 0), args.integer("signType", 0)};
}

// The output files of the ShowDocument requests that write files.
struct DocumentFiles {
    std::string signed_document, sign_image, sign_data, finger_image, video;

    explicit DocumentFiles(const HandlerArgs& args)
        : signed_document(args.text("signedDocPath")),
          sign_image(args.text("signImgPath")),
          sign_data(args.text("signDataPath")),
          finger_image(args.text("fingerImgPath")),
          video(args.text("videoPath")) {}

    std::vector<LocalPath> paths() const {
        return {{"signedDocPath", signed_document, PathUse::Write},
                {"signImgPath", sign_image, PathUse::Write},
                {"signDataPath", sign_data, PathUse::Write},
                {"fingerImgPath", finger_image, PathUse::Write},
                {"videoPath", video, PathUse::Write}};
    }
};

char* chars(std::string& text) { return &text[0]; }

// ShowDocumentSignOrFingerPoints and its certificate form.
using DocumentPoints = int (CCounterMate::*)(int, int, int, char*, char*, char*, char*, char*,
                                             char*);
std::string document_points(const char* method, const std::string& args_text,
                            DocumentPoints operation) {
    const HandlerArgs args(args_text);
    const DocumentSettings settings = document_settings(args);
    DocumentFiles files(args);
    const Signing signing = run_document_signing(args, files.paths(), [&](char* document) {
        return (ctm->*operation)(settings.timeout, settings.record_video, settings.sign_type,
                                 document, chars(files.signed_document), chars(files.sign_image),
                                 chars(files.sign_data), chars(files.finger_image),
                                 chars(files.video));
    });
    return short_signing_reply(method, signing);
}

// ShowDocumentSignOrFingerCoordinates and its certificate form.
using DocumentCoordinates = int (CCounterMate::*)(int, int, int, char*, char*, char*, char*, char*,
                                                  char*, char*);
std::string document_coordinates(const char* method, const std::string& args_text,
                                 DocumentCoordinates operation) {
    const HandlerArgs args(args_text);
    const DocumentSettings settings = document_settings(args);
    std::string positions = args.text("sPos");
    DocumentFiles files(args);
    const Signing signing = run_document_signing(args, files.paths(), [&](char* document) {
        return (ctm->*operation)(settings.timeout, settings.record_video, settings.sign_type,
                                 document, chars(positions), chars(files.signed_document),
                                 chars(files.sign_image), chars(files.sign_data),
                                 chars(files.finger_image), chars(files.video));
    });
    return short_signing_reply(method, signing);
}

// The reply of the ShowDocument _Base64 requests, its own template always (the short template
// only for a decode failure).
std::string document_base64_reply(const char* method, const Signing& signing,
                                  const DriverTexts& texts) {
    if (signing.decode_failed) return short_signing_reply(method, signing);
    const std::string reply_template =
        std::string(R"({"method":")") + method +
        R"(","retVal":%d,"signedDocBase64":"%s","signImgBase64":"%s",)"
        R"("signDataBase64":"%s","fingerImgBase64":"%s",)"
        R"("videoBase64":"%s","errMsg":"%s"})";
    const bool done = signing.result.code == 0;
    const auto text = [&](int index) { return done ? texts.text(index) : ""; };
    return format_reply(reply_template.c_str(), {signing.result.code, text(0), text(1), text(2),
                                                 text(3), text(4), signing.result.error_text});
}

using DocumentPointsBase64 = int (CCounterMate::*)(int, int, int, char*, char**, char**, char**,
                                                   char**, char**);
std::string document_points_base64(const char* method, const std::string& args_text,
                                   DocumentPointsBase64 operation) {
    const HandlerArgs args(args_text);
    const DocumentSettings settings = document_settings(args);
    DriverTexts texts;
    const Signing signing = run_document_signing(args, {}, [&](char* document) {
        return (ctm->*operation)(settings.timeout, settings.record_video, settings.sign_type,
                                 document, texts.out(0), texts.out(1), texts.out(2), texts.out(3),
                                 texts.out(4));
    });
    return document_base64_reply(method, signing, texts);
}

using DocumentCoordinatesBase64 = int (CCounterMate::*)(int, int, int, char*, char*, char**, char**,
                                                        char**, char**, char**);
std::string document_coordinates_base64(const char* method, const std::string& args_text,
                                        DocumentCoordinatesBase64 operation) {
    const HandlerArgs args(args_text);
    const DocumentSettings settings = document_settings(args);
    std::string positions = args.text("sPos");
    DriverTexts texts;
    const Signing signing = run_document_signing(args, {}, [&](char* document) {
        return (ctm->*operation)(settings.timeout, settings.record_video, settings.sign_type,
                                 document, chars(positions), texts.out(0), texts.out(1),
                                 texts.out(2), texts.out(3), texts.out(4));
    });
    return document_base64_reply(method, signing, texts);
}

}  // namespace

// ---- the ShowPdf requests ----

void CDEV_HUB::ShowPdfSignOrFinger(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = reader.integer("outTimes", 0);
    const int sign_type = reader.integer("signType", 0);
    std::string sign_image = reader.text("signPath");
    std::string sign_data = reader.text("signDataPath");
    std::string finger_image = reader.text("fingerPicPath");
    const Signing signing =
        run_pdf_signing(reader,
                        {{"signPath", sign_image, PathUse::Write},
                         {"signDataPath", sign_data, PathUse::Write},
                         {"fingerPicPath", finger_image, PathUse::Write}},
                        [&](char* document) {
                            return ctm->ShowPdfSign(timeout, sign_type, document, chars(sign_image),
                                                    chars(sign_data), chars(finger_image));
                        });
    reply = short_signing_reply("ShowPdfSignOrFinger", signing);
}

void CDEV_HUB::ShowPdfSignOrFinger_Base64(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = reader.integer("outTimes", 0);
    const int sign_type = reader.integer("signType", 0);
    OutputText sign_image(countermate::kBase64PictureCapacity);
    OutputText finger_image(countermate::kBase64PictureCapacity);
    const Signing signing = run_pdf_signing(reader, {}, [&](char* document) {
        return ctm->ShowPdfSign_Base64(timeout, sign_type, document, sign_image.data(),
                                       finger_image.data());
    });
    if (signing.decode_failed) {
        reply = short_signing_reply("ShowPdfSignOrFinger_Base64", signing);
        return;
    }
    const bool done = signing.result.code == 0;
    reply = format_reply(
        R"({"method":"ShowPdfSignOrFinger_Base64","retVal":%d,"signPicBase64":"%s","fingerPicBase64":"%s","errMsg":"%s"})",
        {signing.result.code, done ? sign_image.text() : std::string(),
         done ? finger_image.text() : std::string(), signing.result.error_text});
}

void CDEV_HUB::ShowPdfSignOrFingerPoint(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = reader.integer("outTimes", 0);
    const int sign_type = reader.integer("signType", 0);
    std::string signed_pdf = reader.text("signPdfPath");
    std::string sign_folder = reader.text("signPath");
    std::string sign_data = reader.text("signDataPath");
    std::string finger_folder = reader.text("fingerPicPath");
    const Signing signing = run_pdf_signing(reader,
                                            {{"signPdfPath", signed_pdf, PathUse::Write},
                                             {"signPath", sign_folder, PathUse::Folder},
                                             {"signDataPath", sign_data, PathUse::Write},
                                             {"fingerPicPath", finger_folder, PathUse::Folder}},
                                            [&](char* document) {
                                                return ctm->ShowPdfSignAndFingerPoint(
                                                    timeout, sign_type, document, chars(signed_pdf),
                                                    chars(sign_folder), chars(sign_data),
                                                    chars(finger_folder));
                                            });
    reply = short_signing_reply("ShowPdfSignOrFingerPoint", signing);
}

void CDEV_HUB::ShowPdfSignOrFingerPoint_Base64(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = reader.integer("outTimes", 0);
    const int sign_type = reader.integer("signType", 0);
    DriverTexts texts;
    const Signing signing = run_pdf_signing(reader, {}, [&](char* document) {
        return ctm->ShowPdfSignAndFingerPoint_Base64(timeout, sign_type, document, texts.out(0),
                                                     texts.out(1), texts.out(2));
    });
    // A decode failure carries the decoder's text here, and like every failure the short reply.
    if (signing.result.code != 0) {
        reply = short_reply("ShowPdfSignOrFingerPoint_Base64", signing.result.code,
                            signing.result.error_text);
        return;
    }
    reply = format_reply(
        R"({"method":"ShowPdfSignOrFingerPoint_Base64","retVal":%d,"signPdfBase64":"%s","signImgBase64":"%s","signTxtBase64":"%s","fingerImgBase64":"%s","errMsg":"%s"})",
        {signing.result.code, texts.text(0), texts.text(1), "", texts.text(2),
         signing.result.error_text});
}

void CDEV_HUB::ShowPdfSignOrFingerCoordinates(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = reader.integer("outTimes", kPdfCoordinatesWait);
    const int sign_type = reader.integer("signType", 0);
    const int record_video = reader.integer("isVideo", 0);
    std::string positions = reader.text("sPos");
    std::string signed_pdf = reader.text("signPdfPath");
    std::string sign_folder = reader.text("signPath");
    std::string sign_data = reader.text("signDataPath");
    std::string finger_folder = reader.text("fingerPicPath");
    std::string video = reader.text("videoPath");
    const Signing signing = run_pdf_signing(
        reader,
        {{"signPdfPath", signed_pdf, PathUse::Write},
         {"signPath", sign_folder, PathUse::Folder},
         {"signDataPath", sign_data, PathUse::Write},
         {"fingerPicPath", finger_folder, PathUse::Folder},
         {"videoPath", video, PathUse::Write}},
        [&](char* document) {
            return ctm->ShowPdfSignOrFingerCoordinates(
                timeout, sign_type, document, record_video, chars(positions), chars(signed_pdf),
                chars(sign_folder), chars(sign_data), chars(finger_folder), chars(video));
        });
    reply = short_signing_reply("ShowPdfSignOrFingerCoordinates", signing);
}

void CDEV_HUB::ShowPdfSignOrFingerCoordinates_Base64(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = reader.integer("outTimes", 0);
    const int sign_type = reader.integer("signType", 0);
    const int record_video = reader.integer("isVideo", 0);
    std::string positions = reader.text("sPos");
    DriverTexts texts;
    const Signing signing = run_pdf_signing(reader, {}, [&](char* document) {
        return ctm->ShowPdfSignOrFingerCoordinates_Base64(
            timeout, sign_type, document, record_video, chars(positions), texts.out(0),
            texts.out(1), texts.out(2), texts.out(3));
    });
    // A decode failure carries the decoder's text here; a failure carries no result texts.
    const bool done = signing.result.code == 0;
    const auto text = [&](int index) { return done ? texts.text(index) : ""; };
    reply = format_reply(
        R"({"method":"ShowPdfSignOrFingerCoordinates_Base64","retVal":%d,"signPdfBase64":"%s","signImgBase64":"%s","signTxtBase64":"%s","fingerImgBase64":"%s","videoBase64":"%s","errMsg":"%s"})",
        {signing.result.code, text(0), text(1), "", text(2), text(3), signing.result.error_text});
}

void CDEV_HUB::ShowPdfSignOrFingerMultiDoc(std::string args, std::string& reply) {
    const HandlerArgs reader(args);
    const int timeout = reader.integer("outTimes", 0);
    const int sign_type = reader.integer("signType", 0);
    const int count = reader.integer("pdfCout", 0);
    const int record_video = reader.integer("isVideo", 0);
    std::string documents = reader.text("pdfPathList");
    std::string positions = reader.text("posList");
    std::string signed_folder = reader.text("signPdfPath");
    std::string video = reader.text("videoPath");
    std::vector<LocalPath> paths{{"signPdfPath", signed_folder, PathUse::Folder},
                                 {"videoPath", video, PathUse::Write}};
    // Each document of the list is a file this machine sends.
    size_t start = 0;
    while (!documents.empty() && start <= documents.size()) {
        const size_t end = std::min(documents.find('|', start), documents.size());
        paths.push_back({"pdfPathList", documents.substr(start, end - start), PathUse::Read});
        start = end + 1;
    }
    reply = countermate::plain_reply(
        R"({"method":"ShowPdfSignOrFingerMultiDoc","retVal":%d,"errMsg":"%s"})",
        PortClosing::UnlessCancelling,
        [&] {
            return ctm->ShowPdfSignOrFingerMultiDoc(timeout, count, chars(documents), sign_type,
                                                    record_video, chars(positions),
                                                    chars(signed_folder), chars(video));
        },
        paths);
}

void CDEV_HUB::ShowPdfSignOrFingerMultiDoc_Base64(std::string, std::string& reply) {
    reply =
        R"({"method":"ShowPdfSignOrFingerMultiDoc_Base64","retVal":0,"signPdfBase64":{},"videoBase64":"{}","errMsg":""})";
}

// ---- the ShowDocument requests ----

void CDEV_HUB::ShowDocumentSignOrFingerPoints(std::string args, std::string& reply) {
    reply = document_points("ShowDocumentSignOrFingerPoints", args,
                            &CCounterMate::ShowDocumentSignOrFingerPoints);
}

void CDEV_HUB::ShowDocumentSignOrFingerCoordinates(std::string args, std::string& reply) {
    reply = document_coordinates("ShowDocumentSignOrFingerCoordinates", args,
                                 &CCounterMate::ShowDocumentSignOrFingerCoordinates);
}

void CDEV_HUB::ShowDocumentSignOrFingerPoints_Base64(std::string args, std::string& reply) {
    reply = document_points_base64("ShowDocumentSignOrFingerPoints_Base64", args,
                                   &CCounterMate::ShowDocumentSignOrFingerPoints_Base64);
}

void CDEV_HUB::ShowDocumentSignOrFingerCoordinates_Base64(std::string args, std::string& reply) {
    reply = document_coordinates_base64("ShowDocumentSignOrFingerCoordinates_Base64", args,
                                        &CCounterMate::ShowDocumentSignOrFingerCoordinates_Base64);
}

void CDEV_HUB::ShowDocumentSignOrFingerPointsWithCms(std::string args, std::string& reply) {
    reply = document_points("ShowDocumentSignOrFingerPointsWithCms", args,
                            &CCounterMate::ShowDocumentSignOrFingerPointsWithCms);
}

void CDEV_HUB::ShowDocumentSignOrFingerCoordinatesWithCms(std::string args, std::string& reply) {
    reply = document_coordinates("ShowDocumentSignOrFingerCoordinatesWithCms", args,
                                 &CCounterMate::ShowDocumentSignOrFingerCoordinatesWithCms);
}

void CDEV_HUB::ShowDocumentSignOrFingerPointsWithCms_Base64(std::string args, std::string& reply) {
    reply = document_points_base64("ShowDocumentSignOrFingerPointsWithCms_Base64", args,
                                   &CCounterMate::ShowDocumentSignOrFingerPointsWithCms_Base64);
}

void CDEV_HUB::ShowDocumentSignOrFingerCoordinatesWithCms_Base64(std::string args,
                                                                 std::string& reply) {
    reply = document_coordinates_base64(
        "ShowDocumentSignOrFingerCoordinatesWithCms_Base64", args,
        &CCounterMate::ShowDocumentSignOrFingerCoordinatesWithCms_Base64);
}
