// The teller's sign-in page: the template filled and kept in the module folder, the head picture
// sent among the teller pictures, the evaluation page made from the filled page.
#include <gtest/gtest.h>

#include <string>

#include "OperationTable.h"

namespace countermate::terminal::testing {
namespace {

class TerminalTellerPages : public OperationTable {
protected:
    void SetUp() override {
        OperationTable::SetUp();
        m_pages = m_folder + "/module/";
        ASSERT_EQ(std::system(("mkdir -p '" + m_pages + "'").c_str()), 0);
        m_driver->UseModuleDirectory(m_pages);
    }

    void WriteTemplate(const std::string& content) {
        LocalFile("module/EvaluateTemplate.html", content);
    }

    std::string m_pages;
};

const char kSignIn[] =
    R"({"command":"SignIn","param":{"uid":0,"uno":"007","uname":"王五 $userName","orgname":"城东支行",)"
    R"("level":5,"upicurl":"userImg/007.jpg","motto":"","logourl":"","picplaytime":30,)"
    R"("userPosition":"柜员","checkevms":0}})";

TEST_F(TerminalTellerPages, LoginFillsEveryPlaceholderOnceAndSignsIn) {
    WriteTemplate(
        "<h1>$userName</h1><p>$userNo $userStar $userPosition $orgName</p>"
        "<img src=\"data:image/jpeg;base64,$head\"><footer>$userName $work</footer>");
    char name[] = "王五 $userName", number[] = "007", star[] = "5", position[] = "柜员",
         organisation[] = "城东支行", head[] = "";
    ASSERT_EQ(m_driver->LoginByHtml(name, number, star, position, organisation, head), 0);
    EXPECT_EQ(ReadFile(m_pages + "Temp/Evaluate_temp.html"),
              "<h1>王五 $userName</h1><p>007 5 柜员 城东支行</p>"
              "<img src=\"data:image/jpeg;base64,\"><footer>王五 $userName $work</footer>");
    // Without a head picture nothing is pushed: the sign-in is the only thing sent.
    EXPECT_EQ(m_simulator->Commands(), std::vector<std::string>{kSignIn});
    EXPECT_EQ(Stored("/mnt/sdcard/ZR/CounterMate/userImg/007.jpg"), "");
}

TEST_F(TerminalTellerPages, HeadPictureIsSentAsTheTellersPicture) {
    WriteTemplate("<img src=\"data:image/jpeg;base64,$head\">");
    char name[] = "王五 $userName", number[] = "007", star[] = "5", position[] = "柜员",
         organisation[] = "城东支行", head[] = "/9j/4AAQSkZJRg==";
    ASSERT_EQ(m_driver->LoginByHtml(name, number, star, position, organisation, head), 0);
    EXPECT_EQ(Stored("/mnt/sdcard/ZR/CounterMate/userImg/007.jpg"),
              std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10));
    EXPECT_EQ(ReadFile(m_pages + "007.jpg"), "");  // the local copy is removed
    EXPECT_EQ(ReadFile(m_pages + "Temp/Evaluate_temp.html"),
              "<img src=\"data:image/jpeg;base64,/9j/4AAQSkZJRg==\">");
    EXPECT_EQ(m_simulator->Commands(), std::vector<std::string>{kSignIn});

    // The number names the picture file here and on the terminal: it may not leave its folder.
    char escaping[] = "../007";
    EXPECT_EQ(m_driver->LoginByHtml(name, escaping, star, position, organisation, head), -1);
    char undecodable[] = "*not base64*";
    EXPECT_EQ(m_driver->LoginByHtml(name, number, star, position, organisation, undecodable), -8);
    EXPECT_EQ(m_simulator->Commands().size(), 1u);
}

TEST_F(TerminalTellerPages, EvaluationPageIsMadeFromTheFilledPage) {
    WriteTemplate("<p>$userName</p><p>$work</p><p>$work</p>");
    char name[] = "王五", number[] = "007", star[] = "5", empty[] = "";
    ASSERT_EQ(m_driver->LoginByHtml(name, number, star, empty, empty, empty), 0);
    char work[] = "个人开户", evaluation[1024] = {};
    ASSERT_EQ(m_driver->EvaluateByHtml(45, work, evaluation), 0);
    EXPECT_EQ(m_simulator->Commands().back(),
              R"({"command":"EvaluateByHtml","param":{"outTime":45}})");
    EXPECT_EQ(Stored("/sdcard/ZR/CounterMate/temp/evaluate.html"),
              "<p>王五</p><p>个人开户</p><p>个人开户</p>");
    EXPECT_STREQ(evaluation, R"({"satisfaction":5,"comment":""})");
    EXPECT_EQ(ReadFile(m_pages + "Temp/Evaluate_temp2.html"), "");  // removed after the push

    const std::pair<int, int> outcomes[] = {{1, -9}, {2, -2}, {-1, 0}};
    for (const auto& [status_code, result] : outcomes) {
        sim::CommandScript script;
        script.status_code = status_code;
        m_simulator->Script("EvaluateByHtml", script);
        EXPECT_EQ(m_driver->EvaluateByHtml(45, work, evaluation), result) << status_code;
    }

    ASSERT_EQ(m_driver->LogoutByHtml(), 0);
    EXPECT_EQ(m_simulator->Commands().back(), R"({"command":"SignOut"})");
    EXPECT_EQ(m_driver->EvaluateByHtml(45, work, evaluation), -8);  // no page after sign-out
}

TEST_F(TerminalTellerPages, MissingTemplateOrUnwritableFolderFails) {
    char name[] = "王五", number[] = "007", star[] = "5", empty[] = "";
    EXPECT_EQ(m_driver->LoginByHtml(name, number, star, empty, empty, empty), -8);
    WriteTemplate("$userName");
    m_driver->UseModuleDirectory(m_folder + "/module/EvaluateTemplate.html/");  // not a folder
    EXPECT_EQ(m_driver->LoginByHtml(name, number, star, empty, empty, empty), -8);
    EXPECT_TRUE(m_simulator->Commands().empty());
}

TEST(TerminalPlaceholders, ReplacementIsNeverSearchedAgain) {
    EXPECT_EQ(replace_all_distinct("$a-$a", "$a", "[$a]"), "[$a]-[$a]");
    EXPECT_EQ(replace_all_distinct("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(replace_all_distinct("abc", "", "x"), "abc");
    EXPECT_EQ(
        ReplacePlaceholders("$userName/$userNo", {{"$userName", "$userNo"}, {"$userNo", "7"}}),
        "$userNo/7");
}

}  // namespace
}  // namespace countermate::terminal::testing
