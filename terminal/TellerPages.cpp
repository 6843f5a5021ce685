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

Command SignIn(const Teller& teller) {
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
    return MakeCommand("SignIn", param, 0, StatusRule::kNotRead);
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
            if (!value.first.empty() &&
                text.compare(position, value.first.size(), value.first) == 0) {
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
    return TerminalOperation(*this, "Login").Run(SignIn({user_name, user_no, "", star_level, ""}));
}

int CDEV_CounterMate::Logout() {
    return TerminalOperation(*this, "Logout", LOG_LEVEL_INFO)
        .Run(MakeCommand("SignOut", std::nullopt, 0, StatusRule::kNotRead));
}

namespace {

// Fills the teller page from the template and, with a head picture, sends the picture.
int PrepareTellerPage(CDEV_CounterMate& driver, const Teller& teller, char* star_level,
                      char* head_picture) {
    const std::string folder = driver.ScratchDirectory();
    std::string page;
    int result = ReadPage(driver.ModuleDirectory() + kTemplateName, page);
    if (result != kSuccess) return result;
    // One pass over the template: a value that itself holds a placeholder is left as it is.
    page = ReplacePlaceholders(page, {{"$userName", TextOrEmpty(teller.name)},
                                      {"$userNo", TextOrEmpty(teller.number)},
                                      {"$userStar", TextOrEmpty(star_level)},
                                      {"$userPosition", TextOrEmpty(teller.position)},
                                      {"$head", TextOrEmpty(head_picture)},
                                      {"$orgName", TextOrEmpty(teller.organisation)}});
    result = WritePage(folder + kTellerPageName, page, "DEV_LoginByHtml");
    if (result != kSuccess || IsEmpty(head_picture)) return result;
    return SendHeadPicture(driver, folder, teller.number, head_picture);
}

// Writes the evaluation page for `work` from the teller page and pushes it; the local copy is
// removed afterwards.
int SendEvaluationPage(CDEV_CounterMate& driver, TerminalOperation& operation, const char* work) {
    const std::string folder = driver.ScratchDirectory();
    std::string page;
    int result = ReadPage(folder + kTellerPageName, page);
    if (result != kSuccess) return result;
    const std::string local_page = folder + kEvaluationPageName;
    result = WritePage(local_page, replace_all_distinct(page, "$work", TextOrEmpty(work)),
                       "DEV_EvaluateByHtml");
    if (result != kSuccess) return result;
    result = operation.Push({{local_page.c_str(), kEvaluationPagePath}});
    std::remove(local_page.c_str());
    if (result != kSuccess) CTM_TRACE(LOG_LEVEL_ERROR, "DEV_EvaluateByHtml", "下载文件失败！");
    return result;
}

}  // namespace

int CDEV_CounterMate::LoginByHtml(char* user_name, char* user_no, char* star_level, char* position,
                                  char* org_name, char* head_picture) {
    TerminalOperation operation(*this, "LoginByHtml");
    const Teller teller{user_name, user_no, org_name, std::atoi(TextOrEmpty(star_level)), position};
    const int result = PrepareTellerPage(*this, teller, star_level, head_picture);
    if (result != kSuccess) return operation.Return(result);
    return operation.Run(SignIn(teller));
}

int CDEV_CounterMate::EvaluateByHtml(int timeout, char* work, char* evaluation) {
    TerminalOperation operation(*this, "EvaluateByHtml");
    const int result = SendEvaluationPage(*this, operation, work);
    if (result != kSuccess) return operation.Return(result);
    return operation.Run(MakeCommand("EvaluateByHtml", Params({{"outTime", timeout}}),
                                     timeout + kAnswerMargin, StatusRule::kCancelOrTimeout),
                         {TextMember{"result", evaluation, kLongTextCapacity}});
}

int CDEV_CounterMate::LogoutByHtml() {
    std::remove((ScratchDirectory() + kTellerPageName).c_str());
    return Logout();
}
