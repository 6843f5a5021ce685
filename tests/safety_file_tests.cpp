// Local files that a page names: the rules for a path (in-process), then end to end. A FIFO, a
// folder or a device named as a file to read or to write is refused with -1 and a text naming
// the argument before the terminal hears of it, and the service stays free; with FileRoots set,
// only paths that resolve inside a root are served.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "local_paths.h"
#include "service_test_base.h"

namespace countermate::testing {
namespace {

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

void write_file(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// The content of `path`, or "<absent>".
std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return "<absent>";
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Under `base`: the root counter/ (a picture, a folder, a FIFO, links in and out, a link to
// nowhere), the sibling counter2/ that shares its name's start, outside/ with a secret, and
// rootlink, a link to counter/. Returns the root.
std::string make_layout(const std::string& base) {
    namespace fs = std::filesystem;
    write_file(base + "/counter/picture.png", "PICTURE");
    fs::create_directories(base + "/counter/sub");
    EXPECT_EQ(mkfifo((base + "/counter/pipe").c_str(), 0600), 0);
    write_file(base + "/counter2/picture.png", "SIBLING");
    write_file(base + "/outside/secret.png", "SECRET");
    fs::create_symlink(base + "/counter/picture.png", base + "/counter/link-in.png");
    fs::create_symlink(base + "/outside/secret.png", base + "/counter/link-out.png");
    fs::create_symlink(base + "/outside/new.png", base + "/counter/dangling.png");
    fs::create_symlink(base + "/counter", base + "/rootlink");
    return base + "/counter";
}

// ---- the rules for one path ----

const std::string kOutside = "参数 arg 的路径不在允许的目录内";
const std::string kNotRegular = "参数 arg 不是普通文件";
const std::string kNoFolder = "参数 arg 的目录不存在";

struct PathRule {
    const char* path;  // "@" is the layout's folder
    PathUse use;
    std::vector<std::string> roots;  // "@" is the layout's folder
    std::string refusal;             // empty: allowed
};

TEST(LocalPathRules, TypesAndRoots) {
    TemporaryFolder folder;
    make_layout(folder.path());
    const std::vector<std::string> root = {"@/counter"};
    const PathUse read = PathUse::Read, write = PathUse::Write;
    const PathRule rules[] = {
        // Without roots: only what a path names counts.
        {"", write, {}, ""},  // no path: the driver skips it
        {"@/counter/picture.png", read, {}, ""},
        {"@/counter/link-in.png", write, {}, ""},
        {"@/counter/missing.png", read, {}, ""},  // the driver answers -6
        {"@/counter/new.png", write, {}, ""},
        {"@/counter/pipe", read, {}, kNotRegular},
        {"@/counter/sub", write, {}, kNotRegular},
        {"/dev/null", write, {}, kNotRegular},
        {"@/counter/dangling.png", write, {}, kNotRegular},  // would create outside/new.png
        {"@/counter/dangling.png", read, {}, ""},            // nothing to read: -6
        {"@/nowhere/new.png", write, {}, kNoFolder},
        {"@/counter/", write, {}, kNotRegular},
        // With a root: resolved paths, compared by whole components.
        {"@/counter/picture.png", read, root, ""},
        {"@/counter/sub/../picture.png", read, root, ""},
        {"@/counter/new.png", write, root, ""},
        {"@/rootlink/picture.png", read, root, ""},
        {"@/counter/picture.png", read, {"@/rootlink"}, ""},
        {"@/counter/picture.png", read, {"/"}, ""},
        {"@/outside/secret.png", read, root, kOutside},
        {"@/counter/../outside/secret.png", read, root, kOutside},
        {"@/counter/link-out.png", read, root, kOutside},
        {"@/counter2/picture.png", read, root, kOutside},
        {"@/outside/new.png", write, root, kOutside},
        {"@/counter/nowhere/new.png", write, root, kOutside},  // a folder that does not resolve
        {"@/outside/secret.png", read, {"@/missing", "@/outside"}, ""},
        {"@/counter/picture.png", read, {"@/missing"}, kOutside},
        {"/dev/null", write, root, kOutside},  // the roots come first
    };
    for (const PathRule& rule : rules) {
        const std::string path = replace_all(rule.path, "@", folder.path());
        std::vector<std::string> roots;
        for (const std::string& item : rule.roots) {
            roots.push_back(replace_all(item, "@", folder.path()));
        }
        EXPECT_EQ(local_path_refusal({"arg", path, rule.use}, roots), rule.refusal)
            << rule.path << (rule.use == read ? " read" : " write") << " roots "
            << rule.roots.size();
    }
}

// ---- a service without FileRoots: what a path names ----

struct SpecialCase {
    const char* name;
    const char* target;   // "pipe" (a FIFO) or "folder" in the test's folder, or a device
    const char* request;  // "@" is the target's path, "%" the test's own folder
    const char* reply;
};

void PrintTo(const SpecialCase& c, std::ostream* out) { *out << c.name; }

class SpecialFiles : public ServiceTest, public ::testing::WithParamInterface<SpecialCase> {
protected:
    std::string make_target(const std::string& target) {
        if (target[0] == '/') return target;
        const std::string path = folder_.path() + "/" + target;
        if (target == "pipe") {
            EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        } else {
            std::filesystem::create_directory(path);
        }
        return path;
    }

    TemporaryFolder folder_;
};

TEST_P(SpecialFiles, AreRefusedBeforeTheTerminal) {
    const SpecialCase& c = GetParam();
    const std::string path = make_target(c.target);
    const std::filesystem::file_type type_before = std::filesystem::status(path).type();
    const size_t reports_before = terminal().Reports().size();

    // An open that waited for a FIFO's writer would hold the worker for good: no reply at all.
    EXPECT_EQ(call(replace_all(replace_all(c.request, "@", path), "%", folder_.path())), c.reply);
    EXPECT_TRUE(commands_received().empty());
    EXPECT_EQ(terminal().Reports().size(), reports_before);  // no push, no pull either
    EXPECT_EQ(std::filesystem::status(path).type(), type_before);
    EXPECT_EQ(read_file(folder_.path() + "/track.txt"), "<absent>");
    // The service is free for the next request at once.
    EXPECT_EQ(call(R"({"method":"GetDevID","args":{}})"),
              R"({"method":"GetDevID","retVal":0,"devID":"SIMDEV-0001","errMsg":"操作成功"})");
}

constexpr const char* kPictureRefused =
    R"({"method":"ShowPictures","retVal":-1,"interactiveValue":0,"errMsg":"参数 fileData 不是普通文件"})";
constexpr const char* kPdfRefused =
    R"({"method":"ShowPdfAndConfirm","retVal":-1,"confirmResult":0,"errMsg":"参数 pdfPath 不是普通文件"})";
constexpr const char* kSignatureRefused =
    R"({"method":"GetSignName","retVal":-1,"errMsg":"参数 signPath 不是普通文件"})";

constexpr const char* kPicture =
    R"({"method":"ShowPictures","args":{"outTimes":5,"showType":0,"fileForm":0,"fileData":"@"}})";
constexpr const char* kPdf =
    R"({"method":"ShowPdfAndConfirm","args":{"outTimes":5,"pdfPath":"@"}})";
constexpr const char* kSignature =
    R"({"method":"GetSignName","args":{"outTimes":5,"signPath":"@","signDataPath":"%/track.txt"}})";

INSTANTIATE_TEST_SUITE_P(
    Requests, SpecialFiles,
    ::testing::Values(SpecialCase{"FifoAsPicture", "pipe", kPicture, kPictureRefused},
                      SpecialCase{"FolderAsPicture", "folder", kPicture, kPictureRefused},
                      SpecialCase{"DeviceAsPicture", "/dev/zero", kPicture, kPictureRefused},
                      SpecialCase{"FifoAsPdf", "pipe", kPdf, kPdfRefused},
                      SpecialCase{"FolderAsPdf", "folder", kPdf, kPdfRefused},
                      SpecialCase{"DeviceAsPdf", "/dev/zero", kPdf, kPdfRefused},
                      SpecialCase{"FifoAsSignature", "pipe", kSignature, kSignatureRefused},
                      SpecialCase{"FolderAsSignature", "folder", kSignature, kSignatureRefused},
                      SpecialCase{"DeviceAsSignature", "/dev/null", kSignature, kSignatureRefused}),
    [](const ::testing::TestParamInfo<SpecialCase>& info) { return std::string(info.param.name); });

// ---- a service with FileRoots ----

// The service on a simulated terminal, from a deploy folder whose FileRoots is counter/ of the
// layout; shared by the tests below.
struct ConfinedSetup {
    TemporaryFolder base;
    const std::string root = make_layout(base.path());
    DeployCopy deploy{{{"FileRoots", root}}};
    ServiceOnSimulator service{deploy.path()};
};

class FileRoots : public ::testing::Test {
public:
    static void StopService() {
        delete setup_;
        setup_ = nullptr;
    }

protected:
    static void SetUpTestSuite() {
        if (!setup_) setup_ = new ConfinedSetup();
    }

    void SetUp() override {
        ASSERT_TRUE(setup_->service.started()) << "the service did not start";
        client_ = setup_->service.connect();
        ASSERT_TRUE(client_->is_open());
        commands_before_ = terminal().Commands().size();
    }

    sim::TerminalSimulator& terminal() { return setup_->service.simulator(); }
    // Sends `request` with "@" standing for the layout's folder; returns the reply.
    std::string call(const std::string& request) {
        return call_service(*client_, replace_all(request, "@", setup_->base.path()));
    }
    size_t commands_since_start() const {
        return setup_->service.simulator().Commands().size() - commands_before_;
    }

    static ConfinedSetup* setup_;
    std::unique_ptr<WsClientConnection> client_;
    size_t commands_before_ = 0;
};

ConfinedSetup* FileRoots::setup_ = nullptr;

// The confined service is stopped once, after every suite of the program has run.
class StopConfinedServiceAtExit : public ::testing::Environment {
public:
    void TearDown() override { FileRoots::StopService(); }
};

const auto* const stop_confined_service_at_exit =
    ::testing::AddGlobalTestEnvironment(new StopConfinedServiceAtExit);

TEST_F(FileRoots, APictureInsideARootIsShown) {
    EXPECT_EQ(
        call(
            R"({"method":"ShowPictures","args":{"showType":0,"fileData":"@/counter/picture.png"}})"),
        R"({"method":"ShowPictures","retVal":0,"interactiveValue":1,"errMsg":"操作成功"})");
    EXPECT_EQ(commands_since_start(), 1u);
    EXPECT_EQ(read_file(terminal().StoragePath("/sdcard/ZR/CounterMate/ordos/collection_code.png")),
              "PICTURE");
}

TEST_F(FileRoots, ASignatureIsWrittenToNewFilesInsideARoot) {
    EXPECT_EQ(
        call(
            R"({"method":"GetSignName","args":{"outTimes":5,"signPath":"@/counter/sign.png","signDataPath":"@/counter/sign.txt"}})"),
        R"({"method":"GetSignName","retVal":0,"errMsg":"操作成功"})");
    EXPECT_EQ(commands_since_start(), 1u);
    const std::string image = read_file(setup_->root + "/sign.png");
    EXPECT_EQ(image.compare(0, 4, "\x89PNG"), 0);
    const std::string stored = "/sdcard/ZR/CounterMate/temp/voice_decl_signatrue.png";
    EXPECT_EQ(image, read_file(terminal().StoragePath(stored)));
    const std::string track = "/sdcard/ZR/CounterMate/temp/voice_signatrue.txt";
    EXPECT_EQ(read_file(setup_->root + "/sign.txt"), read_file(terminal().StoragePath(track)));
}

struct RootCase {
    const char* name;
    const char* request;
    const char* reply;
};

void PrintTo(const RootCase& c, std::ostream* out) { *out << c.name; }

class FileRootsRefusal : public FileRoots, public ::testing::WithParamInterface<RootCase> {};

TEST_P(FileRootsRefusal, NamesTheArgumentAndLeavesTheTerminalAlone) {
    EXPECT_EQ(call(GetParam().request), GetParam().reply);
    EXPECT_EQ(commands_since_start(), 0u);
    EXPECT_EQ(read_file(setup_->base.path() + "/outside/new.png"), "<absent>");
}

constexpr const char* kPictureOutside =
    R"({"method":"ShowPictures","retVal":-1,"interactiveValue":0,"errMsg":"参数 fileData 的路径不在允许的目录内"})";

INSTANTIATE_TEST_SUITE_P(
    Requests, FileRootsRefusal,
    ::testing::Values(
        RootCase{"Outside",
                 R"({"method":"ShowPictures","args":{"fileData":"@/outside/secret.png"}})",
                 kPictureOutside},
        RootCase{"LinkInsideLeadingOut",
                 R"({"method":"ShowPictures","args":{"fileData":"@/counter/link-out.png"}})",
                 kPictureOutside},
        RootCase{
            "DotDotEscaping",
            R"({"method":"ShowPictures","args":{"fileData":"@/counter/../outside/secret.png"}})",
            kPictureOutside},
        RootCase{"SiblingSharingThePrefix",
                 R"({"method":"ShowPictures","args":{"fileData":"@/counter2/picture.png"}})",
                 kPictureOutside},
        RootCase{
            "PdfOutside",
            R"({"method":"ShowPdfAndConfirm","args":{"pdfPath":"@/outside/secret.png"}})",
            R"({"method":"ShowPdfAndConfirm","retVal":-1,"confirmResult":0,"errMsg":"参数 pdfPath 的路径不在允许的目录内"})"},
        RootCase{
            "OutputOutside",
            R"({"method":"GetSignName","args":{"signPath":"@/counter/unused.png","signDataPath":"@/outside/new.png"}})",
            R"({"method":"GetSignName","retVal":-1,"errMsg":"参数 signDataPath 的路径不在允许的目录内"})"},
        RootCase{
            "OutputThroughALinkToNowhere",
            R"({"method":"GetFingerPrint","args":{"fingerPath":"@/counter/dangling.png"}})",
            R"({"method":"GetFingerPrint","retVal":-1, "fingerDat":"","errMsg":"参数 fingerPath 不是普通文件"})"},
        RootCase{
            "CardPhotoOutside",
            R"({"method":"ReadIDCard","args":{"idPotoPath":"@/outside/new.png"}})",
            R"({"method":"ReadIDCard","retVal":-1,"idInfo":{},"errMsg":"参数 idPotoPath 的路径不在允许的目录内"})"},
        RootCase{
            "CardSideOutside",
            R"({"method":"ReadIDCard","args":{"idPotoPath":"@/counter/photo.png","idPositivePath":"@/counter/../outside/new.png"}})",
            R"({"method":"ReadIDCard","retVal":-1,"idInfo":{},"errMsg":"参数 idPositivePath 的路径不在允许的目录内"})"},
        RootCase{
            "ReplayTrackOutside",
            R"({"method":"SignaturePlayback","args":{"fileData":"@/outside/secret.png"}})",
            R"({"method":"SignaturePlayback","retVal":-1,"errMsg":"参数 fileData 的路径不在允许的目录内"})"},
        RootCase{
            "RecognitionOutside",
            R"({"method":"PictureOCR","args":{"fileData":"@/outside/secret.png"}})",
            R"({"method":"PictureOCR","retVal":-1,"text":"","errMsg":"参数 fileData 的路径不在允许的目录内"})"},
        RootCase{
            "EncodedFileOutside",
            R"({"method":"FileBase64Encode","args":{"filePath":"@/outside/secret.png"}})",
            R"({"method":"FileBase64Encode","retVal":-1,"fileBase64":"","errMsg":"参数 filePath 的路径不在允许的目录内"})"},
        RootCase{
            "DecodedFileOutside",
            R"({"method":"FileBase64Decode","args":{"filePath":"@/outside/new.png","fileBase64":"SGk="}})",
            R"({"method":"FileBase64Decode","retVal":-1,"errMsg":"参数 filePath 的路径不在允许的目录内"})"},
        RootCase{
            "PushedFileOutside",
            R"({"method":"DownLoadFile","args":{"fileType":1,"fileName":"x.mp4","fileData":"@/outside/secret.png"}})",
            R"({"method":"DownLoadFile","retVal":-1,"errMsg":"参数 fileData 的路径不在允许的目录内"})"},
        RootCase{
            "PackageOutside", R"({"method":"UpdateApk","args":{"apkPath":"@/outside/secret.png"}})",
            R"({"method":"UpdateApk","retVal":-1,"errMsg":"参数 apkPath 的路径不在允许的目录内"})"}),
    [](const ::testing::TestParamInfo<RootCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace countermate::testing
