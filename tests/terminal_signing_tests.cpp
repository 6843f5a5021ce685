// The document signing requests end to end, on the simulated terminal's own signing: per row
// the request, the exact commands the terminal received, the reply, the documents pushed and
// every file pulled, byte for byte, in the order pulled. Base64 replies are checked against the
// terminal's files: "<b64:PATH>" in an expected reply stands for the Base64 text of the
// terminal's file PATH. "@/" is the test's own folder on this machine.
#include <Base64.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "service_test_base.h"

namespace countermate::testing {
namespace {

namespace fs = std::filesystem;

const std::string kAbsent = "<absent>";
const std::string kDeployFolder = COUNTERMATE_DEPLOY_DIR;

// A small PDF: catalog, empty page tree, cross-reference table and trailer.
const std::string kPdf =
    "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
    "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n"
    "xref\n0 3\n0000000000 65535 f \n0000000009 00000 n \n0000000058 00000 n \n"
    "trailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n108\n%%EOF\n";
const std::string kSecondPdf = "%PDF-1.4\n% the second document\n%%EOF\n";
// An OFD package holding nothing: a ZIP archive of its end record alone.
const std::string kOfd = std::string("PK\x05\x06", 4) + std::string(18, '\0');

constexpr const char* kSourcePdf = "/sdcard/ZR/CounterMate/temp/srcPdf.pdf";
constexpr const char* kOfdDocument = "/sdcard/ZR/CounterMate/sign/ofd/0.ofd";
constexpr const char* kSignedPdf = "/sdcard/ZR/CounterMate/out/sign/pdf/1";
constexpr const char* kSignImage = "/sdcard/ZR/CounterMate/out/sign/signImg/";
constexpr const char* kFingerImage = "/sdcard/ZR/CounterMate/out/sign/fingerImg/";
constexpr const char* kTrack = "/sdcard/ZR/CounterMate/out/sign/signXml/signTrack64.xml";
constexpr const char* kSingleTrack = "/sdcard/ZR/Countermate/temp/voice_signatrue.txt";
constexpr const char* kPdfVideo = "/sdcard/ZR/CounterMate/out/sign/video/sign.mp4";
constexpr const char* kSignedOfd = "/sdcard/ZR/CounterMate/out/sign/ofd/signed.ofd";
constexpr const char* kOfdVideo = "/sdcard/ZR/CounterMate/out/sign/video/signedVideo.mp4";
constexpr const char* kOfdSignImage = "/sdcard/ZR/CounterMate/out/sign/ofd/signImg.jpg";
constexpr const char* kOfdSignData = "/sdcard/ZR/CounterMate/out/sign/ofd/signData.xml";
constexpr const char* kOfdFingerImage = "/sdcard/ZR/CounterMate/out/sign/ofd/fingerImg.jpg";

std::string image(const char* folder, int index) { return folder + std::to_string(index); }

std::string ok(const std::string& method) {
    return R"({"method":")" + method + R"(","retVal":0,"errMsg":"操作成功"})";
}
std::string failed(const std::string& method, int code, const std::string& text) {
    return R"({"method":")" + method + R"(","retVal":)" + std::to_string(code) + R"(,"errMsg":")" +
           text + R"("})";
}

std::string base64(const std::string& bytes) {
    std::string text(base64_encoded_length(bytes.size()), '\0');
    base64_encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &text[0]);
    return text;
}

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return kAbsent;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct Row {
    const char* name;
    std::string request;
    std::vector<std::string> commands;  // as the terminal received them, in order
    std::string reply;
    Pairs pulled = {};  // local file ("" for a Base64 reply), terminal file, in order
    Pairs pushed = {};  // terminal file, local document
    std::map<std::string, int> data = {};  // members the terminal's answer data is given
    const char* scripted = nullptr;        // the command they are given to
    std::optional<int> status_code = {};   // the answer's top-level statusCode
    std::vector<std::string> absent = {};  // files removed before and expected absent after
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
std::string row_name(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }

class TerminalSigning : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        for (const auto& [name, content] : Pairs{{"doc.pdf", kPdf},
                                                 {"doc2.pdf", kSecondPdf},
                                                 {"doc.ofd", kOfd},
                                                 {"DOC.PDF", kPdf}}) {
            write_file(folder_.path() + "/" + name, content);
        }
        for (const char* name : {"signs", "fingers", "signed"}) {
            fs::create_directories(folder_.path() + "/" + name);
        }
        pulls_before_ = terminal().PullRequests().size();
    }
    void TearDown() override {
        for (const std::string& command : scripted_)
            terminal().Script(command, sim::CommandScript{});
        ServiceTest::TearDown();
    }

    std::string local(const std::string& text) const {
        return replace_all(text, "@/", folder_.path() + "/");
    }
    // A terminal path in the simulator's storage, or a path on this machine as it is.
    std::string file(const std::string& path) {
        const std::string stored_file = terminal().StoragePath(path);
        return stored_file.empty() ? path : stored_file;
    }
    std::string stored(const std::string& terminal_path) {
        return read_file(terminal().StoragePath(terminal_path));
    }
    // The expected reply with each "<b64:PATH>" replaced by the Base64 of the terminal's file.
    std::string expected_reply(std::string reply) {
        for (size_t at = reply.find("<b64:"); at != std::string::npos; at = reply.find("<b64:")) {
            const size_t end = reply.find('>', at);
            const std::string path = reply.substr(at + 5, end - at - 5);
            reply.replace(at, end + 1 - at, base64(stored(path)));
        }
        return local(reply);
    }
    std::vector<std::string> pulled_paths() const {
        const auto all = terminal_const().PullRequests();
        std::vector<std::string> paths;
        for (size_t i = pulls_before_; i < all.size(); ++i) {
            std::string path;
            parse(all[i]).Get("fileName", path);
            paths.push_back(path);
        }
        return paths;
    }
    sim::TerminalSimulator& terminal_const() const { return service_->simulator(); }
    void script(const std::string& command, const sim::CommandScript& how) {
        terminal().Script(command, how);
        scripted_.insert(command);
    }

    void run(const Row& row) {
        for (const std::string& path : row.absent) fs::remove(file(path));
        if (row.scripted != nullptr) {
            sim::CommandScript how;
            how.data_members = row.data;
            how.status_code = row.status_code;
            script(row.scripted, how);
        }
        const std::string reply = call(local(row.request), 20000);
        EXPECT_EQ(reply, expected_reply(row.reply));
        EXPECT_EQ(commands_received(), row.commands);
        std::vector<std::string> terminal_paths;
        for (const auto& [local_file, terminal_path] : row.pulled) {
            terminal_paths.push_back(terminal_path);
            if (local_file.empty()) continue;
            const std::string content = stored(terminal_path);
            EXPECT_NE(content, kAbsent) << terminal_path;
            EXPECT_EQ(read_file(local(local_file)), content) << local_file;
        }
        EXPECT_EQ(pulled_paths(), terminal_paths);
        for (const auto& [terminal_path, document] : row.pushed) {
            EXPECT_EQ(stored(terminal_path), read_file(local(document))) << terminal_path;
        }
        for (const std::string& path : row.absent) EXPECT_FALSE(fs::exists(file(path))) << path;
    }

    TemporaryFolder folder_;
    size_t pulls_before_ = 0;
    std::set<std::string> scripted_;
};

class TerminalSigningRows : public TerminalSigning, public ::testing::WithParamInterface<Row> {};

TEST_P(TerminalSigningRows, SendsTheCommandsMovesTheFilesAndReplies) { run(GetParam()); }

// ---- the ShowPdf requests ----
INSTANTIATE_TEST_SUITE_P(
    ShowPdf, TerminalSigningRows,
    ::testing::Values(
        Row{"ShowPdfSignOrFinger",
            R"({"method":"ShowPdfSignOrFinger","args":{"outTimes":20,"signType":3,"fileData":"@/doc.pdf","signPath":"@/sign.png","signDataPath":"@/sign.txt","fingerPicPath":"@/finger.png"}})",
            {R"({"command":"ShowPdfSign","param":{"timeOut":20,"signtype":3}})"},
            ok("ShowPdfSignOrFinger"),
            {{"@/sign.png", "/sdcard/ZR/CounterMate/temp/signatrue.png"},
             {"@/sign.txt", "/sdcard/ZR/CounterMate/temp/signatrue.txt"},
             {"@/finger.png", "/sdcard/ZR/CounterMate/temp/bitmaRed.png"}},
            {{"/sdcard/ZR/CounterMate/temp/temp.pdf", "@/doc.pdf"}}},
        Row{"ShowPdfSignOrFinger_Base64",
            R"({"method":"ShowPdfSignOrFinger_Base64","args":{"outTimes":20,"signType":1,"fileData":"@/doc.pdf"}})",
            {R"({"command":"ShowPdfSign","param":{"timeOut":20,"signtype":1}})"},
            R"({"method":"ShowPdfSignOrFinger_Base64","retVal":0,"signPicBase64":"<b64:/sdcard/ZR/CounterMate/temp/signatrue.png>","fingerPicBase64":"","errMsg":"操作成功"})",
            {{"", "/sdcard/ZR/CounterMate/temp/signatrue.png"}}},
        // Three signature images land as sign00.jpg to sign02.jpg; outTimes 0 is 60 seconds.
        Row{"ShowPdfSignOrFingerPointThreeSignatures",
            R"({"method":"ShowPdfSignOrFingerPoint","args":{"signType":3,"fileData":"@/doc.pdf","signPdfPath":"@/signed.pdf","signPath":"@/signs","signDataPath":"@/track.xml","fingerPicPath":"@/fingers"}})",
            {R"({"command":"ShowPdfSignOrFinger","param":{"timeout":60,"signtype":3}})"},
            ok("ShowPdfSignOrFingerPoint"),
            {{"@/signed.pdf", kSignedPdf},
             {"@/signs/sign00.jpg", image(kSignImage, 0)},
             {"@/signs/sign01.jpg", image(kSignImage, 1)},
             {"@/signs/sign02.jpg", image(kSignImage, 2)},
             {"@/track.xml", kTrack},
             {"@/fingers/finger00.jpg", image(kFingerImage, 0)}},
            {{kSourcePdf, "@/doc.pdf"}},
            {{"signImgCount", 3}},
            "ShowPdfSignOrFinger"},
        Row{"ShowPdfSignOrFingerPointRefused",
            R"({"method":"ShowPdfSignOrFingerPoint","args":{"signType":1,"fileData":"@/doc.pdf","signPdfPath":"@/signed.pdf","signPath":"@/signs"}})",
            {R"({"command":"ShowPdfSignOrFinger","param":{"timeout":60,"signtype":1}})"},
            failed("ShowPdfSignOrFingerPoint", -22, "拒绝签字"),
            {},
            {},
            {{"statusCode", 4}},
            "ShowPdfSignOrFinger"},
        Row{"ShowPdfSignOrFingerPoint_Base64",
            R"({"method":"ShowPdfSignOrFingerPoint_Base64","args":{"outTimes":15,"signType":3,"fileData":"@/doc.pdf"}})",
            {R"({"command":"ShowPdfSignOrFinger","param":{"timeout":15,"signtype":3}})"},
            std::string(
                R"({"method":"ShowPdfSignOrFingerPoint_Base64","retVal":0,"signPdfBase64":"<b64:)") +
                kSignedPdf + R"(>","signImgBase64":"<b64:)" + image(kSignImage, 0) +
                R"(>","signTxtBase64":"","fingerImgBase64":"<b64:)" + image(kFingerImage, 0) +
                R"(>","errMsg":"操作成功"})",
            {{"", kSignedPdf}, {"", image(kSignImage, 0)}, {"", image(kFingerImage, 0)}}},
        // Without outTimes and isVideo the terminal is given 30 seconds and no video.
        Row{"ShowPdfSignOrFingerCoordinatesDefaults",
            R"({"method":"ShowPdfSignOrFingerCoordinates","args":{"signType":1,"fileData":"@/doc.pdf","sPos":"1,120,340,1","signPdfPath":"@/signed.pdf","signPath":"@/signs","signDataPath":"@/track.xml"}})",
            {R"({"command":"ShowPdfSignOrFingerCoordinates","param":{"timeout":30,"signtype":1,"pos":"1,120,340,1","isVideo":0}})"},
            ok("ShowPdfSignOrFingerCoordinates"),
            {{"@/signed.pdf", kSignedPdf},
             {"@/signs/sign00.jpg", image(kSignImage, 0)},
             {"@/track.xml", kTrack}},
            {{kSourcePdf, "@/doc.pdf"}}},
        Row{"ShowPdfSignOrFingerCoordinatesOnVideo",
            R"({"method":"ShowPdfSignOrFingerCoordinates","args":{"outTimes":40,"signType":2,"isVideo":1,"fileData":"@/doc.pdf","sPos":"1,120,340,1","signPdfPath":"@/signed.pdf","fingerPicPath":"@/fingers","videoPath":"@/sign.mp4"}})",
            {R"({"command":"ShowPdfSignOrFingerCoordinates","param":{"timeout":40,"signtype":2,"pos":"1,120,340,1","isVideo":1}})"},
            ok("ShowPdfSignOrFingerCoordinates"),
            {{"@/signed.pdf", kSignedPdf},
             {"@/sign.mp4", kPdfVideo},
             {"@/fingers/finger00.jpg", image(kFingerImage, 0)}}},
        // Sign type 0 only confirms: nothing is pulled.
        Row{"ShowPdfSignOrFingerCoordinatesConfirmOnly",
            R"({"method":"ShowPdfSignOrFingerCoordinates","args":{"signType":0,"fileData":"@/doc.pdf","sPos":"1,120,340,1","signPdfPath":"@/signed.pdf"}})",
            {R"({"command":"ShowPdfSignOrFingerCoordinates","param":{"timeout":30,"signtype":0,"pos":"1,120,340,1","isVideo":0}})"},
            ok("ShowPdfSignOrFingerCoordinates")},
        Row{"ShowPdfSignOrFingerCoordinatesTimedOut",
            R"({"method":"ShowPdfSignOrFingerCoordinates","args":{"signType":1,"fileData":"@/doc.pdf","sPos":"1,120,340,1","signPdfPath":"@/signed.pdf"}})",
            {R"({"command":"ShowPdfSignOrFingerCoordinates","param":{"timeout":30,"signtype":1,"pos":"1,120,340,1","isVideo":0}})"},
            failed("ShowPdfSignOrFingerCoordinates", -2, "超时"),
            {},
            {},
            {{"confirmResult", 3}},
            "ShowPdfSignOrFingerCoordinates"},
        Row{"ShowPdfSignOrFingerCoordinatesCancelled",
            R"({"method":"ShowPdfSignOrFingerCoordinates","args":{"signType":1,"fileData":"@/doc.pdf","sPos":"1,120,340,1","signPdfPath":"@/signed.pdf"}})",
            {R"({"command":"ShowPdfSignOrFingerCoordinates","param":{"timeout":30,"signtype":1,"pos":"1,120,340,1","isVideo":0}})"},
            failed("ShowPdfSignOrFingerCoordinates", -9, "取消当前操作"),
            {},
            {},
            {{"confirmResult", 4}},
            "ShowPdfSignOrFingerCoordinates"},
        // Positions of 3 characters or fewer: nothing is pushed or sent.
        Row{"ShowPdfSignOrFingerCoordinatesShortPositions",
            R"({"method":"ShowPdfSignOrFingerCoordinates","args":{"signType":1,"fileData":"@/doc2.pdf","sPos":"1,2"}})",
            {},
            failed("ShowPdfSignOrFingerCoordinates", -1, "参数错误"),
            {},
            {},
            {},
            nullptr,
            {},
            {kSourcePdf}},
        Row{"ShowPdfSignOrFingerCoordinates_Base64",
            R"({"method":"ShowPdfSignOrFingerCoordinates_Base64","args":{"outTimes":20,"signType":2,"isVideo":1,"sPos":"1,120,340,1","fileData":"@/doc.pdf"}})",
            {R"({"command":"ShowPdfSignOrFingerCoordinates","param":{"timeout":20,"signtype":2,"pos":"1,120,340,1","isVideo":1}})"},
            std::string(
                R"({"method":"ShowPdfSignOrFingerCoordinates_Base64","retVal":0,"signPdfBase64":"<b64:)") +
                kSignedPdf +
                R"(>","signImgBase64":"","signTxtBase64":"","fingerImgBase64":"<b64:)" +
                image(kFingerImage, 0) + R"(>","videoBase64":"<b64:)" + kPdfVideo +
                R"(>","errMsg":"操作成功"})",
            {{"", kSignedPdf}, {"", kPdfVideo}, {"", image(kFingerImage, 0)}}},
        Row{"ShowPdfSignOrFingerCoordinates_Base64Failed",
            R"({"method":"ShowPdfSignOrFingerCoordinates_Base64","args":{"signType":1,"sPos":"1,120,340,1","fileData":"@/missing.pdf"}})",
            {},
            R"({"method":"ShowPdfSignOrFingerCoordinates_Base64","retVal":-6,"signPdfBase64":"","signImgBase64":"","signTxtBase64":"","fingerImgBase64":"","videoBase64":"","errMsg":"文件不存在"})"},
        Row{"ShowPdfSignOrFingerMultiDoc",
            R"({"method":"ShowPdfSignOrFingerMultiDoc","args":{"outTimes":50,"signType":1,"pdfCout":2,"isVideo":1,"pdfPathList":"@/doc.pdf|@/doc2.pdf","posList":"1,10,10,1|1,20,20,1","signPdfPath":"@/signed","videoPath":"@/multi.mp4"}})",
            {R"({"command":"TransFileCount","param":{"fileCount":2}})",
             R"({"command":"ShowPdfSignMultiDoc","param":{"timeout":50,"signtype":1,"voice":"","isVideo":1,"fileCount":2,"file1Pos":"1,10,10,1","file2Pos":"1,20,20,1"}})"},
            ok("ShowPdfSignOrFingerMultiDoc"),
            {{"@/signed/1.pdf", "/sdcard/ZR/CounterMate/out/sign/pdf/multi1.pdf"},
             {"@/signed/2.pdf", "/sdcard/ZR/CounterMate/out/sign/pdf/multi2.pdf"},
             {"@/multi.mp4", kPdfVideo}},
            {{"/sdcard/ZR/CounterMate/trans/file1", "@/doc.pdf"},
             {"/sdcard/ZR/CounterMate/trans/file2", "@/doc2.pdf"}}},
        Row{"ShowPdfSignOrFingerMultiDoc_Base64",
            R"({"method":"ShowPdfSignOrFingerMultiDoc_Base64","args":{"pdfCout":2,"pdfPathList":"@/doc.pdf"}})",
            {},
            R"({"method":"ShowPdfSignOrFingerMultiDoc_Base64","retVal":0,"signPdfBase64":{},"videoBase64":"{}","errMsg":""})"},
        // Content that is not Base64 is the result (-8); the terminal is not used.
        Row{"ShowPdfSignOrFingerUndecodable",
            R"({"method":"ShowPdfSignOrFinger","args":{"signType":1,"fileForm":1,"fileData":"*not base64*"}})",
            {},
            failed("ShowPdfSignOrFinger", -8, "")},
        Row{"ShowPdfSignOrFingerPoint_Base64Undecodable",
            R"({"method":"ShowPdfSignOrFingerPoint_Base64","args":{"signType":1,"fileForm":1,"fileData":"*not base64*"}})",
            {},
            failed("ShowPdfSignOrFingerPoint_Base64", -8, "操作文件失败")}),
    row_name);

// ---- the ShowDocument requests ----
INSTANTIATE_TEST_SUITE_P(
    ShowDocument, TerminalSigningRows,
    ::testing::Values(
        // The integers reach the terminal whatever order the page wrote them in; the last
        // signature and fingerprint images go to one file each.
        Row{"PointsOnPdf",
            R"({"method":"ShowDocumentSignOrFingerPoints","args":{"signType":3,"isVideo":0,"outTimes":25,"fileData":"@/doc.pdf","signedDocPath":"@/signed.pdf","signImgPath":"@/sign.jpg","signDataPath":"@/track.txt","fingerImgPath":"@/finger.jpg"}})",
            {R"({"command":"ShowPdfSignOrFinger","param":{"timeout":25,"signtype":3}})"},
            ok("ShowDocumentSignOrFingerPoints"),
            {{"@/signed.pdf", kSignedPdf},
             {"@/sign.jpg", image(kSignImage, 1)},
             {"@/track.txt", kSingleTrack},
             {"@/finger.jpg", image(kFingerImage, 0)}},
            {{kSourcePdf, "@/doc.pdf"}},
            {{"signImgCount", 2}},
            "ShowPdfSignOrFinger"},
        Row{"PointsWithCmsOnOfd",
            R"({"method":"ShowDocumentSignOrFingerPointsWithCms","args":{"isVideo":0,"signType":1,"fileData":"@/doc.ofd","signedDocPath":"@/signed.ofd","signImgPath":"@/sign.jpg","signDataPath":"@/sign.xml","videoPath":"@/none.mp4"}})",
            {R"({"command":"ShowOfdSignOrFingerWithCms","param":{"timeout":60,"signtype":1,"isVideo":0,"voice":"请阅读文档后签名"}})"},
            ok("ShowDocumentSignOrFingerPointsWithCms"),
            {{"@/signed.ofd", kSignedOfd},
             {"@/sign.jpg", kOfdSignImage},
             {"@/sign.xml", kOfdSignData}},
            {{kOfdDocument, "@/doc.ofd"}}},
        Row{"CoordinatesOnOfdWithVideo",
            R"({"method":"ShowDocumentSignOrFingerCoordinates","args":{"outTimes":30,"isVideo":1,"signType":2,"sPos":"1,50,60,1","fileData":"@/doc.ofd","signedDocPath":"@/signed.ofd","fingerImgPath":"@/finger.jpg","videoPath":"@/signed.mp4"}})",
            {R"({"command":"ShowOfdSignOrFingerCoordinates","param":{"timeout":30,"signtype":2,"isVideo":1,"voice":"请阅读文档后按捺指纹","pos":"1,50,60,1"}})"},
            ok("ShowDocumentSignOrFingerCoordinates"),
            {{"@/signed.ofd", kSignedOfd},
             {"@/finger.jpg", kOfdFingerImage},
             {"@/signed.mp4", kOfdVideo}}},
        Row{"CoordinatesWithCmsOnPdf",
            R"({"method":"ShowDocumentSignOrFingerCoordinatesWithCms","args":{"outTimes":30,"isVideo":1,"signType":1,"sPos":"1,50,60,1","fileData":"@/doc.pdf","signedDocPath":"@/signed.pdf","signImgPath":"@/sign.jpg","signDataPath":"@/track.txt","videoPath":"@/signed.mp4"}})",
            {R"({"command":"ShowPdfSignOrFingerCoordinatesWithCms","param":{"timeout":30,"signtype":1,"pos":"1,50,60,1","isVideo":1}})"},
            ok("ShowDocumentSignOrFingerCoordinatesWithCms"),
            {{"@/signed.pdf", kSignedPdf},
             {"@/signed.mp4", kPdfVideo},
             {"@/sign.jpg", image(kSignImage, 0)},
             {"@/track.txt", kSingleTrack}}},
        Row{"OfdTimedOut",
            R"({"method":"ShowDocumentSignOrFingerPoints","args":{"signType":1,"fileData":"@/doc.ofd","signedDocPath":"@/signed.ofd"}})",
            {R"({"command":"ShowOfdSignOrFinger","param":{"timeout":60,"signtype":1,"isVideo":0,"voice":"请阅读文档后签名"}})"},
            failed("ShowDocumentSignOrFingerPoints", -2, "超时"),
            {},
            {},
            {},
            "ShowOfdSignOrFinger",
            2},
        // The extension is compared as it is: ".PDF" is neither kind.
        Row{"UpperCaseExtension",
            R"({"method":"ShowDocumentSignOrFingerPoints","args":{"signType":1,"fileData":"@/DOC.PDF"}})",
            {},
            failed("ShowDocumentSignOrFingerPoints", -1, "参数错误")},
        // dataForm 1 decodes into temp.ofd for docType 1, which makes it an OFD signing, and
        // into temp.pdf otherwise; the temporary file is removed.
        Row{"DecodedOfd",
            R"({"method":"ShowDocumentSignOrFingerPoints","args":{"signType":0,"dataForm":1,"docType":1,"fileData":"UEsFBgAAAAAAAAAAAAAAAAAAAAAAAA==","signedDocPath":"@/signed.ofd"}})",
            {R"({"command":"ShowOfdSignOrFinger","param":{"timeout":60,"signtype":0,"isVideo":0,"voice":"请阅读文档后确认"}})"},
            ok("ShowDocumentSignOrFingerPoints"),
            {{"@/signed.ofd", kSignedOfd}},
            {{kOfdDocument, "@/doc.ofd"}},
            {},
            nullptr,
            {},
            {kDeployFolder + "/Temp/temp.ofd"}},
        Row{"DecodedPdf",
            R"({"method":"ShowDocumentSignOrFingerPoints","args":{"signType":0,"dataForm":1,"fileData":"UEsFBgAAAAAAAAAAAAAAAAAAAAAAAA=="}})",
            {R"({"command":"ShowPdfSignOrFinger","param":{"timeout":60,"signtype":0}})"},
            ok("ShowDocumentSignOrFingerPoints"),
            {},
            {{kSourcePdf, "@/doc.ofd"}},
            {},
            nullptr,
            {},
            {kDeployFolder + "/Temp/temp.pdf"}},
        Row{"Undecodable",
            R"({"method":"ShowDocumentSignOrFingerPoints_Base64","args":{"signType":1,"dataForm":1,"fileData":"*not base64*"}})",
            {},
            failed("ShowDocumentSignOrFingerPoints_Base64", -8, "")},
        Row{"PointsBase64OnOfd",
            R"({"method":"ShowDocumentSignOrFingerPoints_Base64","args":{"outTimes":30,"isVideo":1,"signType":3,"fileData":"@/doc.ofd"}})",
            {R"({"command":"ShowOfdSignOrFinger","param":{"timeout":30,"signtype":3,"isVideo":1,"voice":"请阅读文档后签名并按捺指纹"}})"},
            std::string(
                R"({"method":"ShowDocumentSignOrFingerPoints_Base64","retVal":0,"signedDocBase64":"<b64:)") +
                kSignedOfd + R"(>","signImgBase64":"<b64:)" + kOfdSignImage +
                R"(>","signDataBase64":"<b64:)" + kOfdSignData + R"(>","fingerImgBase64":"<b64:)" +
                kOfdFingerImage + R"(>","videoBase64":"<b64:)" + kOfdVideo +
                R"(>","errMsg":"操作成功"})",
            {{"", kSignedOfd},
             {"", kOfdSignImage},
             {"", kOfdSignData},
             {"", kOfdFingerImage},
             {"", kOfdVideo}}},
        Row{"PointsWithCmsBase64OnPdf",
            R"({"method":"ShowDocumentSignOrFingerPointsWithCms_Base64","args":{"outTimes":30,"signType":2,"fileData":"@/doc.pdf"}})",
            {R"({"command":"ShowPdfSignOrFingerWithCms","param":{"timeout":30,"signtype":2}})"},
            std::string(
                R"({"method":"ShowDocumentSignOrFingerPointsWithCms_Base64","retVal":0,"signedDocBase64":"<b64:)") +
                kSignedPdf +
                R"(>","signImgBase64":"","signDataBase64":"","fingerImgBase64":"<b64:)" +
                image(kFingerImage, 0) + R"(>","videoBase64":"","errMsg":"操作成功"})",
            {{"", kSignedPdf}, {"", image(kFingerImage, 0)}}},
        Row{"CoordinatesBase64OnOfd",
            R"({"method":"ShowDocumentSignOrFingerCoordinates_Base64","args":{"outTimes":30,"isVideo":0,"signType":1,"sPos":"1,50,60,1","fileData":"@/doc.ofd"}})",
            {R"({"command":"ShowOfdSignOrFingerCoordinates","param":{"timeout":30,"signtype":1,"isVideo":0,"voice":"请阅读文档后签名","pos":"1,50,60,1"}})"},
            std::string(
                R"({"method":"ShowDocumentSignOrFingerCoordinates_Base64","retVal":0,"signedDocBase64":"<b64:)") +
                kSignedOfd + R"(>","signImgBase64":"<b64:)" + kOfdSignImage +
                R"(>","signDataBase64":"<b64:)" + kOfdSignData +
                R"(>","fingerImgBase64":"","videoBase64":"","errMsg":"操作成功"})",
            {{"", kSignedOfd}, {"", kOfdSignImage}, {"", kOfdSignData}}},
        Row{"CoordinatesWithCmsBase64OnPdf",
            R"({"method":"ShowDocumentSignOrFingerCoordinatesWithCms_Base64","args":{"outTimes":30,"isVideo":1,"signType":1,"sPos":"1,50,60,1","fileData":"@/doc.pdf"}})",
            {R"({"command":"ShowPdfSignOrFingerCoordinatesWithCms","param":{"timeout":30,"signtype":1,"pos":"1,50,60,1","isVideo":1}})"},
            std::string(
                R"({"method":"ShowDocumentSignOrFingerCoordinatesWithCms_Base64","retVal":0,"signedDocBase64":"<b64:)") +
                kSignedPdf + R"(>","signImgBase64":"<b64:)" + image(kSignImage, 0) +
                R"(>","signDataBase64":"","fingerImgBase64":"","videoBase64":"<b64:)" + kPdfVideo +
                R"(>","errMsg":"操作成功"})",
            {{"", kSignedPdf}, {"", kPdfVideo}, {"", image(kSignImage, 0)}}},
        // A failed _Base64 request still answers its whole template, with empty results.
        Row{"FailedBase64KeepsItsTemplate",
            R"({"method":"ShowDocumentSignOrFingerPoints_Base64","args":{"signType":1,"fileData":"@/missing.pdf"}})",
            {},
            R"({"method":"ShowDocumentSignOrFingerPoints_Base64","retVal":-6,"signedDocBase64":"","signImgBase64":"","signDataBase64":"","fingerImgBase64":"","videoBase64":"","errMsg":"文件不存在"})"}),
    row_name);

// The signed PDF is the pushed document with an incremental update appended.
TEST_F(TerminalSigning, SignedPdfExtendsThePushedDocument) {
    ASSERT_EQ(
        call(local(
            R"({"method":"ShowPdfSignOrFingerPoint","args":{"signType":1,"fileData":"@/doc.pdf","signPdfPath":"@/signed.pdf"}})")),
        ok("ShowPdfSignOrFingerPoint"));
    const std::string signed_pdf = read_file(local("@/signed.pdf"));
    ASSERT_GT(signed_pdf.size(), kPdf.size());
    EXPECT_EQ(signed_pdf.compare(0, kPdf.size(), kPdf), 0);
    const std::string update = signed_pdf.substr(kPdf.size());
    EXPECT_NE(update.find("/Type /Sig"), std::string::npos);
    EXPECT_NE(update.find("/Root 1 0 R /Prev 108"), std::string::npos);
    EXPECT_EQ(update.substr(update.size() - 6), "%%EOF\n");
}

// A cancel from a second client ends a signing that waits for the customer.
TEST_F(TerminalSigning, CancelEndsAWaitingSigning) {
    start_endless_wait(
        "ShowPdfSignOrFingerCoordinates",
        local(
            R"({"method":"ShowPdfSignOrFingerCoordinates","args":{"signType":1,"fileData":"@/doc.pdf","sPos":"1,120,340,1","signPdfPath":"@/signed.pdf"}})"));
    auto canceller = service_->connect();
    std::string cancel_reply;
    ASSERT_TRUE(canceller->send_text(R"({"method":"CancelOpt","args":{}})"));
    ASSERT_TRUE(canceller->receive(cancel_reply, 10000));
    EXPECT_EQ(cancel_reply, ok("CancelOpt"));
    EXPECT_EQ(next_message(10000), failed("ShowPdfSignOrFingerCoordinates", -9, "取消当前操作"));
    EXPECT_TRUE(pulled_paths().empty());
}

}  // namespace
}  // namespace countermate::testing
