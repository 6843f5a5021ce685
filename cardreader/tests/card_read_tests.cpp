// libcardgate.so as the service uses it (loaded by path, entries found by name) reading whole
// cards from the reader simulator over a pseudo-terminal, and the simulator as its own program.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CardgateTesting.h"
#include "ReaderSimulator.h"

namespace cardgate::testing {
namespace {

using countermate::sim::CardKind;
using countermate::sim::ReaderFault;
using countermate::sim::ReaderSimulator;

// The deployed library, loaded the way the service loads it, with the entries a card read uses.
struct CardLibrary {
    void* handle = nullptr;
    int (*openCom)(const char*, int) = nullptr;
    int (*findCard)(unsigned char*) = nullptr;
    int (*selectCard)(unsigned char*) = nullptr;
    int (*readBase)(unsigned char*, unsigned*, unsigned char*, unsigned*) = nullptr;
    int (*readBaseFP)(unsigned char*, unsigned*, unsigned char*, unsigned*, unsigned char*,
                      unsigned*) = nullptr;
    int (*parseText)(const unsigned char*, int, int*, char*) = nullptr;
    int (*parsePhoto)(const unsigned char*, int, int, char*) = nullptr;
    int (*closeDevice)() = nullptr;
    int (*samStatus)() = nullptr;

    explicit CardLibrary(const std::string& logRoot) {
        handle = dlopen(COUNTERMATE_DEPLOY_DIR "/libcardgate.so", RTLD_LAZY | RTLD_LOCAL);
        if (!handle) return;
        Bind(openCom, "_SDT_OpenComBypath");
        Bind(findCard, "_SDT_StartFindIDCard");
        Bind(selectCard, "_SDT_SelectIDCard");
        Bind(readBase, "_SDT_ReadBaseMsg");
        Bind(readBaseFP, "_SDT_ReadBaseFPMsg");
        Bind(parseText, "_SDT_ParseIDCardTextInfo");
        Bind(parsePhoto, "_SDT_ParsePhotoInfo");
        Bind(closeDevice, "_SDT_CloseDev");
        Bind(samStatus, "_SDT_GetSAMStatus");
        void (*setLog)(const char*, const char*, int, int) = nullptr;
        Bind(setLog, "SetLogInfo");
        if (setLog) setLog(logRoot.c_str(), "kvxlog", 104857600, 7);
    }
    ~CardLibrary() {
        if (handle) dlclose(handle);
    }
    template <typename Function>
    void Bind(Function& function, const char* name) {
        function = reinterpret_cast<Function>(dlsym(handle, name));
    }
    bool Complete() const {
        return handle && openCom && findCard && selectCard && readBase && readBaseFP && parseText &&
               parsePhoto && closeDevice && samStatus;
    }
};

// A scratch working folder with the deployed photo decoder, made current, a reader simulator
// linked into it, and the library loaded.
class CardgateCardRead : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(getcwd(m_previous, sizeof m_previous), nullptr);
        ASSERT_EQ(chdir(m_folder.path().c_str()), 0);
        ASSERT_EQ(symlink(COUNTERMATE_DEPLOY_DIR "/libwlt.so", "libwlt.so"), 0);
        m_library = std::make_unique<CardLibrary>(m_folder / "log");
        ASSERT_TRUE(m_library->Complete()) << dlerror();
    }
    void TearDown() override {
        m_library.reset();
        m_simulator.reset();
        if (m_previous[0]) {
            ASSERT_EQ(chdir(m_previous), 0);
        }
    }
    void StartReader(CardKind card, bool present = true, ReaderFault fault = ReaderFault::kNone) {
        m_simulator = std::make_unique<ReaderSimulator>(
            ReaderSimulator::Options{Link(), card, present, fault});
        ASSERT_TRUE(m_simulator->Start());
    }
    std::string Link() const { return m_folder / "ttyReader"; }

    ScratchFolder m_folder;
    char m_previous[PATH_MAX] = {};
    std::unique_ptr<CardLibrary> m_library;
    std::unique_ptr<ReaderSimulator> m_simulator;
};

TEST_F(CardgateCardRead, WholeCardInTheServicesOrder) {
    StartReader(CardKind::kResident);
    CardLibrary& sdt = *m_library;
    ASSERT_EQ(sdt.openCom(Link().c_str(), 115200), 0x90);
    unsigned char scratch[64] = {};
    EXPECT_EQ(sdt.findCard(scratch), 0x9F);
    EXPECT_EQ(sdt.selectCard(scratch), 0x90);
    unsigned char text[512] = {}, photo[2048] = {};
    unsigned textLength = 0, photoLength = 0;
    ASSERT_EQ(sdt.readBase(text, &textLength, photo, &photoLength), 0x90);
    EXPECT_EQ(textLength, 256u);
    EXPECT_EQ(photoLength, 1024u);
    int kind = -1;
    char line[1024] = {};
    ASSERT_EQ(sdt.parseText(text, int(textLength), &kind, line), 0);
    EXPECT_STREQ(line,
                 "张伟|男|汉|19900307|北京市东城区正义路1号|11010119900307123X|"
                 "北京市公安局东城分局|20200101|20400101||");
    char photoPath[256] = "./zp.bmp";
    ASSERT_EQ(sdt.parsePhoto(photo, int(photoLength), 2, photoPath), 0);
    const std::string bmp = ReadFile("zp.bmp");
    EXPECT_EQ(bmp.size(), size_t(308 * 126 + 54));
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(sdt.closeDevice(), 0x90);
    EXPECT_EQ(sdt.closeDevice(), 1);

    const auto commands = m_simulator->Commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0], Bytes({0x20, 0x01}));
    EXPECT_EQ(commands[1], Bytes({0x20, 0x02}));
    EXPECT_EQ(commands[2], Bytes({0x30, 0x01}));
    // Every frame on the line is in the reader log, as hexadecimal.
    const std::string log = ReadFile(m_folder / "log/kvxlog/" + [] {
        char day[32];
        const time_t now = time(nullptr);
        tm local{};
        localtime_r(&now, &local);
        std::strftime(day, sizeof day, "%Y%m%d/log_%H.txt", &local);
        return std::string(day);
    }());
    EXPECT_NE(log.find("\tAAAAAA96690003200122\n"), std::string::npos);
}

TEST_F(CardgateCardRead, EachCardKindWithFingerprints) {
    struct Case {
        CardKind card;
        int kind;
        const char* name;
    } cases[] = {{CardKind::kForeign, 1, "SMITH JOHN|"}, {CardKind::kHKMoTw, 2, "陈大文|"}};
    for (const Case& c : cases) {
        StartReader(c.card);
        CardLibrary& sdt = *m_library;
        ASSERT_EQ(sdt.openCom(Link().c_str(), 115200), 0x90);
        unsigned char text[512] = {}, photo[2048] = {}, fingerprints[2048] = {};
        unsigned textLength = 0, photoLength = 0, fingerprintLength = 0;
        ASSERT_EQ(sdt.readBaseFP(text, &textLength, photo, &photoLength, fingerprints,
                                 &fingerprintLength),
                  0x90);
        EXPECT_EQ(fingerprintLength, 1024u);
        EXPECT_EQ(fingerprints[0], 0x43);
        int kind = -1;
        char line[1024] = {};
        ASSERT_EQ(sdt.parseText(text, int(textLength), &kind, line), 0);
        EXPECT_EQ(kind, c.kind);
        EXPECT_EQ(std::string(line).substr(0, std::strlen(c.name)), c.name);
        EXPECT_EQ(sdt.closeDevice(), 0x90);
    }
}

TEST_F(CardgateCardRead, NoCardAndFaultyReaders) {
    struct Case {
        const char* what;
        bool present;
        ReaderFault fault;
        int found;
    } cases[] = {
        {"no card", false, ReaderFault::kNone, 0x80},
        {"wrong check byte", true, ReaderFault::kChecksum, 16},
        {"wrong preamble", true, ReaderFault::kPreamble, 33},
        {"silent reader", true, ReaderFault::kSilent, 17},  // nothing within the 2 s limit
    };
    for (const Case& c : cases) {
        StartReader(CardKind::kResident, c.present, c.fault);
        CardLibrary& sdt = *m_library;
        ASSERT_EQ(sdt.openCom(Link().c_str(), 115200), 0x90) << c.what;
        unsigned char scratch[64] = {};
        EXPECT_EQ(sdt.findCard(scratch), c.found) << c.what;
        EXPECT_EQ(sdt.closeDevice(), 0x90) << c.what;
    }
    EXPECT_EQ(m_library->samStatus(), 1);  // no reader open
    EXPECT_EQ(m_library->openCom((m_folder / "absent").c_str(), 115200), 1);
}

// The service loads the library for each request: closing it must really unload it, so that
// no reader, log setting or libusb state carries over from one request to the next.
TEST_F(CardgateCardRead, UnloadsCompletelyAfterARead) {
    StartReader(CardKind::kResident);
    ASSERT_EQ(m_library->openCom(Link().c_str(), 115200), 0x90);
    unsigned char scratch[64] = {};
    EXPECT_EQ(m_library->findCard(scratch), 0x9F);
    EXPECT_EQ(m_library->closeDevice(), 0x90);
    m_library.reset();
    EXPECT_EQ(dlopen(COUNTERMATE_DEPLOY_DIR "/libcardgate.so", RTLD_LAZY | RTLD_NOLOAD), nullptr);
    m_library = std::make_unique<CardLibrary>(m_folder / "log");
    ASSERT_TRUE(m_library->Complete());
    EXPECT_EQ(m_library->closeDevice(), 1);  // a fresh library has no reader open
}

TEST(ReaderSimulatorProgram, ServesUntilTerminatedAndRemovesItsLink) {
    ScratchFolder folder;
    const std::string link = folder / "ttyReader";
    int output[2];
    ASSERT_EQ(pipe(output), 0);
    const pid_t simulator = fork();
    ASSERT_GE(simulator, 0);
    if (simulator == 0) {
        dup2(output[1], 1);
        execl(COUNTERMATE_DEPLOY_DIR "/countermate-reader-sim", "countermate-reader-sim", "--link",
              link.c_str(), "--card", "gat", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(output[1]);
    char ready[256] = {};
    ASSERT_GT(read(output[0], ready, sizeof ready - 1), 0);  // "PATH -> DEVICE" once it serves
    EXPECT_EQ(std::string(ready).find(link + " -> /dev/pts/"), 0u) << ready;

    CardLibrary sdt(folder / "log");
    ASSERT_TRUE(sdt.Complete());
    ASSERT_EQ(sdt.openCom(link.c_str(), 115200), 0x90);
    unsigned char text[512] = {}, photo[2048] = {};
    unsigned textLength = 0, photoLength = 0;
    ASSERT_EQ(sdt.readBase(text, &textLength, photo, &photoLength), 0x90);
    int kind = -1;
    char line[1024] = {};
    EXPECT_EQ(sdt.parseText(text, int(textLength), &kind, line), 0);
    EXPECT_EQ(kind, 2);
    EXPECT_EQ(sdt.closeDevice(), 0x90);

    kill(simulator, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(simulator, &status, 0), simulator);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(FileExists(link));
    close(output[0]);

    const std::string program = COUNTERMATE_DEPLOY_DIR "/countermate-reader-sim";
    EXPECT_EQ(WEXITSTATUS(std::system((program + " --card resident 2>/dev/null").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(std::system((program + " --link x --fault loud 2>/dev/null").c_str())),
              2);
}

}  // namespace
}  // namespace cardgate::testing
