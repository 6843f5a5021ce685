// The teller's sign-in shown on the terminal: the plain sign-in, and the teller page filled from
// the template "EvaluateTemplate.html" in the module folder, with the evaluation page made from it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "AUX_X.h"
#include "CJsonObject.h"
#include "DEV_CounterMate.h"
#include "LocalFile.h"
#include "ModuleLog.h"
#include "OperationResults.h"
#include "OperationSteps.h"
#include "ResultCodes.h"

using namespace countermate::terminal;

namespace {

constexpr const char* kTemplateName = "EvaluateTemplate.html";
constexpr const char* kTellerPageName = "Evaluate_temp.html";
constexpr const char* kEvaluationPageName = "Evaluate_temp2.html";
constexpr const char* kEvaluationPagePath = "/sdcard/ZR/CounterMate/temp/evaluate.html";
constexpr int kPicturePlayTime = 30;

struct Teller {
    const char* name;
    const char* number;
    const char* organisation;
    int star_level;
    const char* position;
};

int SignIn(CDEV_CounterMate& driver, const Teller& teller) {
    const std::string picture = std::string("userImg/") + TextOrEmpty(teller.number) + ".jpg";
    const CJsonObject param = Params({{"uid", 0},
                                      {"uno", TextOrEmpty(teller.number)},
                                      {"uname", TextOrEmpty(teller.name)},
                                      {"orgname", TextOrEmpty(teller.organisation)},
                                      {"level", teller.star_level},
                                      {"upicurl", picture.c_str()},
                                      {"motto", ""},
                                      {"logourl", ""},
                                      {"picplaytime", kPicturePlayTime},
                                      {"userPosition", TextOrEmpty(teller.position)},
                                      {"checkevms", 0}});
    CJsonObject answer;
    return driver.RunCommand("SignIn", &param, 0, StatusRule::kNotRead, answer);
}

// Reads a whole page; -8 when it is missing, unreadable or changes size while read.
int ReadPage(const std::string& path, std::string& page) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return kFileOperationFailed;
    CTM_TRACE(LOG_LEVEL_DEBUG, "ReadPage", "fileZize=%d", static_cast<int>(status.st_size));
    LocalFile file = OpenRegularFileToRead(path.c_str());
    if (!file) return kFileOperationFailed;
    page.assign(static_cast<size_t>(status.st_size), '\0');
    const size_t count = std::fread(&page[0], 1, page.size(), file.get());
    if (count != page.size() || std::fgetc(file.get()) != EOF) return kFileOperationFailed;
    return kSuccess;
}

// Writes a filled page; -8 when it cannot be opened (logged under `operation`) or written whole.
int WritePage(const std::string& path, const std::string& page, const char* operation) {
    LocalFile file = OpenRegularFileToWrite(path.c_str());
    if (!file) {
        CTM_TRACE(LOG_LEVEL_ERROR, operation, "重新写入模板文件失败！");
        return kFileOperationFailed;
    }
    if (std::fwrite(page.data(), 1, page.size(), file.get()) != page.size()) {
        return kFileOperationFailed;
    }
    return kSuccess;
}

// Sends the teller's head picture (Base64) to the terminal as "<user number>.jpg" among the
// teller pictures, through a local file that is removed afterwards.
int SendHeadPicture(CDEV_CounterMate& driver, const std::string& folder, const char* user_no,
                    char* head_picture) {
    std::string name = std::string(TextOrEmpty(user_no)) + ".jpg";
    // The number names a file here and on the terminal: it must stay inside its folder.
    if (name.find('/') != std::string::npos) return kBadArgument;
    std::string local_path = folder + name;
    const int decoded = driver.FileBase64Decode(head_picture, &local_path[0]);
    if (decoded != kSuccess) return decoded;
    const int pushed = driver.DownLoadFile(0, &local_path[0], &name[0]);
    std::remove(local_path.c_str());
    return pushed;
}

}  // namespace

namespace countermate::terminal {

std::string ReplacePlaceholders(const std::string& text,
                                const std::vector<std::pair<std::string, std::string>>& values) {
    std::string result;
    result.reserve(text.size());
    size_t position = 0;
    while (position < text.size()) {
        const std::pair<std::string, std::string>* match = nullptr;
        for (const auto& value : values) {
            if (!value.first.empty() && text.compare(position, value.first.size(), value.first) == 0) {
                match = &value;
                break;
            }
        }
        if (match == nullptr) {
            result += text[position++];
            continue;
        }
        result += match->second;
        position += match->first.size();
    }
    return result;
}

std::string replace_all_distinct(const std::string& text, const std::string& old_value,
                                 const std::string& new_value) {
    return ReplacePlaceholders(text, {{old_value, new_value}});
}

}  // namespace countermate::terminal

std::string CDEV_CounterMate::ModuleDirectory() const {
    if (!m_module_directory.empty()) return m_module_directory;
    char folder[1024] = {};
    AUX_X::GetModuleCurPath(folder);
    return folder;
}

// The pages and pictures the driver writes go to "Temp/" beside the library, made when missing:
// an installed library's own folder belongs to root, while its Temp/ is open to the teller.
std::string CDEV_CounterMate::ScratchDirectory() const {
    const std::string folder = ModuleDirectory() + "Temp/";
    mkdir(folder.c_str(), 0777);
    return folder;
}

int CDEV_CounterMate::Login(char* user_name, char* user_no, int star_level) {
    const OperationTrace trace("Login");
    return trace.Return(SignIn(*this, {user_name, user_no, "", star_level, ""}));
}

int CDEV_CounterMate::Logout() {
    const OperationTrace trace("Logout", LOG_LEVEL_INFO);
    CJsonObject answer;
    return trace.Return(RunCommand("SignOut", nullptr, 0, StatusRule::kNotRead, answer));
}

int CDEV_CounterMate::LoginByHtml(char* user_name, char* user_no, char* star_level,
                                  char* position, char* org_name, char* head_picture) {
    const OperationTrace trace("LoginByHtml");
    const std::string folder = ScratchDirectory();
    std::string page;
    int result = ReadPage(ModuleDirectory() + kTemplateName, page);
    if (result != kSuccess) return trace.Return(result);
    // One pass over the template: a value that itself holds a placeholder is left as it is.
    page = ReplacePlaceholders(page, {{"$userName", TextOrEmpty(user_name)},
                                      {"$userNo", TextOrEmpty(user_no)},
                                      {"$userStar", TextOrEmpty(star_level)},
                                      {"$userPosition", TextOrEmpty(position)},
                                      {"$head", TextOrEmpty(head_picture)},
                                      {"$orgName", TextOrEmpty(org_name)}});
    result = WritePage(folder + kTellerPageName, page, "DEV_LoginByHtml");
    if (result != kSuccess) return trace.Return(result);
    if (!IsEmpty(head_picture)) {
        result = SendHeadPicture(*this, folder, user_no, head_picture);
        if (result != kSuccess) return trace.Return(result);
    }
    const int level = std::atoi(TextOrEmpty(star_level));
    return trace.Return(SignIn(*this, {user_name, user_no, org_name, level, position}));
}

int CDEV_CounterMate::EvaluateByHtml(int timeout, char* work, char* evaluation) {
    const OperationTrace trace("EvaluateByHtml");
    const std::string folder = ScratchDirectory();
    std::string page;
    int result = ReadPage(folder + kTellerPageName, page);
    if (result != kSuccess) return trace.Return(result);
    std::string local_page = folder + kEvaluationPageName;
    result = WritePage(local_page, replace_all_distinct(page, "$work", TextOrEmpty(work)),
                       "DEV_EvaluateByHtml");
    if (result != kSuccess) return trace.Return(result);
    result = PushAll(*this, {{local_page.c_str(), kEvaluationPagePath}});
    std::remove(local_page.c_str());
    if (result != kSuccess) {
        CTM_TRACE(LOG_LEVEL_ERROR, "DEV_EvaluateByHtml", "下载文件失败！");
        return trace.Return(result);
    }
    const CJsonObject param = Params({{"outTime", timeout}});
    CJsonObject answer;
    result = RunCommand("EvaluateByHtml", &param, timeout + kAnswerMargin,
                        StatusRule::kCancelOrTimeout, answer);
    if (result == kSuccess) CopyDataText(answer, "result", evaluation, kLongTextCapacity);
    return trace.Return(result);
}

int CDEV_CounterMate::LogoutByHtml() {
    std::remove((ScratchDirectory() + kTellerPageName).c_str());
    return Logout();
}
