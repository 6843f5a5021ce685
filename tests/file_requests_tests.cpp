// Files between the page, the workstation and the terminal, through the whole stack: what the
// terminal stored or was told, what the workstation holds afterwards, and the replies.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "service_test_base.h"
#include "ws_api.h"

namespace countermate::testing {
namespace {

namespace fs = std::filesystem;

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

void write_file(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

class FileRequests : public ServiceTest {
protected:
    // A file of this test on the workstation.
    std::string local(const std::string& name) { return folder_.path() + "/" + name; }
    // The storage file that stands for a terminal path.
    std::string on_terminal(const std::string& path) { return terminal().StoragePath(path); }
    std::string deployed(const std::string& name) {
        return std::string(COUNTERMATE_DEPLOY_DIR) + "/" + name;
    }

    TemporaryFolder folder_;
};

const char kMediaFolder[] = "/mnt/sdcard/ZR/CounterMate/mediaData/";
const char kUserImages[] = "/mnt/sdcard/ZR/CounterMate/userImg/";

TEST_F(FileRequests, DownLoadFilePushesAWorkstationFileAndLeavesIt) {
    write_file(local("advert.mp4"), "MOVIE-BYTES");
    const std::string request =
        R"({"method":"DownLoadFile","args":{"fileType":1,"fileName":"advert.mp4","fileData":")" +
        local("advert.mp4") + R"("}})";
    EXPECT_EQ(call(request), R"({"method":"DownLoadFile","retVal":0,"errMsg":"操作成功"})");
    EXPECT_EQ(read_file(on_terminal(std::string(kMediaFolder) + "advert.mp4")), "MOVIE-BYTES");
    EXPECT_EQ(commands_received(), std::vector<std::string>{R"({"command":"ReloadMedia"})"});
    EXPECT_EQ(read_file(local("advert.mp4")), "MOVIE-BYTES") << "the page's own file is kept";
}

TEST_F(FileRequests, DownLoadFileDecodesBase64IntoATemporaryFileRemovedAfterwards) {
    EXPECT_EQ(
        call(
            R"({"method":"DownLoadFile","args":{"fileType":0,"fileForm":1,"fileName":"teller.png","fileData":"SGVsbG8="}})"),
        R"({"method":"DownLoadFile","retVal":0,"errMsg":"操作成功"})");
    EXPECT_EQ(read_file(on_terminal(std::string(kUserImages) + "teller.png")), "Hello");
    EXPECT_FALSE(fs::exists(deployed("Temp/temp.jpg")));
    EXPECT_FALSE(fs::exists(deployed("teller.png"))) << "a page's name is the terminal's name only";

    // Without a name nothing can be pushed; the temporary file goes all the same.
    EXPECT_EQ(
        call(
            R"({"method":"DownLoadFile","args":{"fileType":0,"fileForm":1,"fileData":"SGVsbG8="}})"),
        R"({"method":"DownLoadFile","retVal":-1,"errMsg":"参数错误"})");
    EXPECT_FALSE(fs::exists(deployed("Temp/temp.jpg")));
}

TEST_F(FileRequests, RequestsWithoutTheirFileTypeAreRefusedBeforeTheTerminal) {
    for (const char* request :
         {R"({"method":"DownLoadFile","args":{"fileName":"a.mp4","fileData":"/tmp/a.mp4"}})",
          R"({"method":"GetFileInfo","args":{"filePath":"x"}})",
          R"({"method":"DeleteFile","args":{"fileName":"a.mp4"}})"}) {
        const CJsonObject reply = parse(call(request));
        EXPECT_EQ(reply("retVal"), "-1") << request;
        EXPECT_EQ(reply("errMsg"), "参数错误") << request;
    }
    EXPECT_TRUE(commands_received().empty());
}

TEST_F(FileRequests, FilesAreListedAndDeletedOnTheTerminal) {
    fs::remove_all(on_terminal(kMediaFolder));
    write_file(on_terminal(std::string(kMediaFolder) + "a.mp4"), "A");
    write_file(on_terminal(std::string(kMediaFolder) + "b.mp4"), "B");
    EXPECT_EQ(
        call(R"({"method":"GetFileInfo","args":{"fileType":1}})"),
        R"({"method":"GetFileInfo","retVal":0,"fileNames":["a.mp4","b.mp4"],"errMsg":"操作成功"})");
    EXPECT_EQ(call(R"({"method":"DeleteFile","args":{"fileType":1,"fileName":"a.mp4"}})"),
              R"({"method":"DeleteFile","retVal":0,"removeFileCount":1,"errMsg":"操作成功"})");
    EXPECT_FALSE(fs::exists(on_terminal(std::string(kMediaFolder) + "a.mp4")));
    EXPECT_EQ(commands_received(),
              (std::vector<std::string>{
                  std::string(R"({"command":"GetFileInfos","param":{"remotePath":")") +
                      kMediaFolder + R"("}})",
                  std::string(R"({"command":"RemoveFiles","param":{"remotePath":")") +
                      kMediaFolder + R"(a.mp4"}})"}));
}

TEST_F(FileRequests, UpdateApkPushesThePackageAndAsksForTheInstall) {
    write_file(local("app.apk"), "PK-APP");
    EXPECT_EQ(call(R"({"method":"UpdateApk","args":{"apkPath":")" + local("app.apk") + R"("}})"),
              R"({"method":"UpdateApk","retVal":0,"errMsg":"操作成功"})");
    EXPECT_EQ(read_file(on_terminal("/sdcard/ZR/CounterMate/temp/temp.apk")), "PK-APP");
    EXPECT_EQ(commands_received(), std::vector<std::string>{R"({"command":"UpdateApk"})"});
}

TEST_F(FileRequests, Base64ToAndFromTheWorkstationWithoutTheTerminal) {
    write_file(local("note.txt"), "Hello, counter");
    EXPECT_EQ(
        call(R"({"method":"FileBase64Encode","args":{"filePath":")" + local("note.txt") + R"("}})"),
        R"({"method":"FileBase64Encode","retVal":0,"fileBase64":"SGVsbG8sIGNvdW50ZXI=","errMsg":"操作成功"})");
    EXPECT_EQ(call(R"({"method":"FileBase64Decode","args":{"filePath":")" + local("copy.txt") +
                   R"(","fileBase64":"SGVsbG8sIGNvdW50ZXI="}})"),
              R"({"method":"FileBase64Decode","retVal":0,"errMsg":"操作成功"})");
    EXPECT_EQ(read_file(local("copy.txt")), "Hello, counter");
    // A file the driver cannot encode: no text, and the driver's word for it.
    EXPECT_EQ(
        call(R"({"method":"FileBase64Encode","args":{"filePath":")" + local("absent.txt") +
             R"("}})"),
        R"({"method":"FileBase64Encode","retVal":-8,"fileBase64":"","errMsg":"操作文件失败"})");
    EXPECT_TRUE(commands_received().empty());
}

// A large file arrives whole: the page decodes what the service encoded back into the file.
TEST_F(FileRequests, TwentyMegabytesRoundTripAsBase64) {
    std::string content(20 * 1024 * 1024, '\0');
    for (size_t index = 0; index < content.size(); ++index)
        content[index] = char(index * 7 + index / 4096);
    write_file(local("large.bin"), content);
    const CJsonObject encoded = parse(
        call(R"({"method":"FileBase64Encode","args":{"filePath":")" + local("large.bin") + R"("}})",
             60000));
    std::string text;
    ASSERT_TRUE(encoded.Get("fileBase64", text));
    ASSERT_EQ(text.size(), (content.size() + 2) / 3 * 4);
    std::string decoded(text.size() / 4 * 3 + 3, '\0');
    decoded.resize(size_t(ws_base64_decode(text.c_str(), reinterpret_cast<uint8_t*>(&decoded[0]))));
    EXPECT_TRUE(decoded == content);
}

TEST_F(FileRequests, WorkstationPathsAreRegularFilesOnly) {
    ASSERT_EQ(mkfifo(local("pipe").c_str(), 0600), 0);
    const struct {
        std::string request;
        std::string reply;
    } cases[] = {
        {R"({"method":"FileBase64Encode","args":{"filePath":")" + local("pipe") + R"("}})",
         R"({"method":"FileBase64Encode","retVal":-1,"fileBase64":"","errMsg":"参数 filePath 不是普通文件"})"},
        {R"({"method":"FileBase64Encode","args":{"filePath":"/dev/zero"}})",
         R"({"method":"FileBase64Encode","retVal":-1,"fileBase64":"","errMsg":"参数 filePath 不是普通文件"})"},
        {R"({"method":"FileBase64Decode","args":{"filePath":")" + local("pipe") +
             R"(","fileBase64":"SGk="}})",
         R"({"method":"FileBase64Decode","retVal":-1,"errMsg":"参数 filePath 不是普通文件"})"},
        {R"({"method":"UpdateApk","args":{"apkPath":")" + folder_.path() + R"("}})",
         R"({"method":"UpdateApk","retVal":-1,"errMsg":"参数 apkPath 不是普通文件"})"},
        {R"({"method":"DownLoadFile","args":{"fileType":1,"fileName":"x","fileData":"/dev/zero"}})",
         R"({"method":"DownLoadFile","retVal":-1,"errMsg":"参数 fileData 不是普通文件"})"},
    };
    for (const auto& test : cases) EXPECT_EQ(call(test.request), test.reply);
    EXPECT_TRUE(commands_received().empty());
    struct stat status {};
    ASSERT_EQ(stat(local("pipe").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode)) << "the FIFO was replaced";
}

}  // namespace
}  // namespace countermate::testing
