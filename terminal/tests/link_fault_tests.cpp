// A command, a push and a pull, each failed at every report the link carries, in every way a
// USB link fails: each ends with the code of its failure, and the driver serves the next
// request once the port has been opened again (as the service does for every request).
// Leaks and overruns on these paths are the sanitizer build's to find.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "DEV_CounterMate.h"
#include "FaultyLink.h"
#include "SimulatedTerminal.h"

namespace countermate::terminal::testing {
namespace {

using CreateFunction = CHidManager* (*)();
using DestroyFunction = void (*)(CHidManager*);

// Far more reports than any operation here carries: a loop that gets this far never ends.
constexpr int kMostReports = 400;

const char* FaultName(LinkFault fault) {
    switch (fault) {
        case LinkFault::kWriteRefused: return "write refused";
        case LinkFault::kReadError: return "read error";
        case LinkFault::kStall: return "stall";
        case LinkFault::kGone: return "gone";
    }
    return "?";
}

// How an operation reports a failure of the link.
enum class SendFailures {
    kAsTheLinkReports,  // the link's own code: -2 for a time-out, -4 or -5 for a lost device
    kAsTheTransfer,     // a push: every failed send gives -4, every failed receive -5
};

// The code an operation must end with when it met `fault` on a read or on a write: a device that
// takes or gives nothing is waited on until the time-out (-2); a write to a vanished device fails
// the send (-4), a read that errs fails the receive (-5).
int ExpectedCode(LinkFault fault, bool met_on_read, SendFailures sends) {
    if (sends == SendFailures::kAsTheTransfer) return met_on_read ? -5 : -4;
    const bool stalled = fault == LinkFault::kStall || fault == LinkFault::kWriteRefused;
    if (stalled) return -2;
    return met_on_read ? -5 : -4;
}

// Whether `text` is `expected`, without printing either (they are long).
::testing::AssertionResult SameText(const std::string& text, const std::string& expected) {
    if (text == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << text.size() << " bytes where " << expected.size() << " were expected, or other bytes";
}

class LinkFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(chdir(COUNTERMATE_DEPLOY_DIR), 0);
        ASSERT_FALSE(m_folder.path().empty());
        m_simulator = StartedSimulator(m_folder.path(), "terminal");
        ASSERT_NE(m_simulator, nullptr);
        setenv("COUNTERMATE_HID_SIM", (m_folder.path() + "/terminal.sock").c_str(), 1);
        m_hid_library = dlopen("./libHid.so", RTLD_NOW);
        ASSERT_NE(m_hid_library, nullptr) << dlerror();
        m_create = reinterpret_cast<CreateFunction>(dlsym(m_hid_library, "CreateHidManager"));
        m_destroy = reinterpret_cast<DestroyFunction>(dlsym(m_hid_library, "DestroyHidManager"));
        ASSERT_TRUE(m_create != nullptr && m_destroy != nullptr);
    }

    void TearDown() override {
        m_simulator.reset();
        unsetenv("COUNTERMATE_HID_SIM");
        if (m_hid_library != nullptr) dlclose(m_hid_library);
    }

    // Runs `operation` on a driver whose link fails with `fault` at its 1st report, then its
    // 2nd, and so on, until the operation completes without meeting the fault; `succeeded`
    // judges that last, fault-free run.
    void FailAtEveryReport(LinkFault fault, SendFailures sends,
                           const std::function<int(CDEV_CounterMate&)>& operation,
                           const std::function<void()>& succeeded) {
        for (int at = 1; at <= kMostReports; ++at) {
            SCOPED_TRACE(std::string(FaultName(fault)) + " at report " + std::to_string(at));
            auto owned = std::make_unique<FaultyLink>(m_create(), m_destroy, fault, at);
            FaultyLink* link = owned.get();
            CDEV_CounterMate driver(std::move(owned));
            driver.UseClock([link] { return std::time(nullptr) + link->StalledSeconds(); });
            ASSERT_EQ(driver.HIDOpenPort(), 0);
            const int result = operation(driver);
            if (!link->Met()) {
                EXPECT_EQ(result, 0);
                link->Disarm();
                char device_id[96] = {};  // answered after everything sent before it
                EXPECT_EQ(driver.GetDevID(device_id), 0);
                succeeded();
                return;
            }
            EXPECT_EQ(result, ExpectedCode(fault, link->MetOnRead(), sends));
            // The service's next request: the port closed and opened again.
            driver.HIDClosePort();
            ASSERT_EQ(driver.HIDOpenPort(), 0);
            char device_id[96] = {};
            ASSERT_EQ(driver.GetDevID(device_id), 0);
            EXPECT_STREQ(device_id, "SIMDEV-0001");
            driver.HIDClosePort();
        }
        FAIL() << "the operation never completed";
    }

    void ForEveryFault(SendFailures sends, const std::function<int(CDEV_CounterMate&)>& operation,
                       const std::function<void()>& succeeded) {
        for (LinkFault fault : {LinkFault::kWriteRefused, LinkFault::kReadError, LinkFault::kStall,
                                LinkFault::kGone}) {
            FailAtEveryReport(fault, sends, operation, succeeded);
        }
    }

    TestFolder m_folder{"countermate-faults"};
    std::unique_ptr<sim::TerminalSimulator> m_simulator;
    void* m_hid_library = nullptr;
    CreateFunction m_create = nullptr;
    DestroyFunction m_destroy = nullptr;
};

TEST_F(LinkFaults, Command) {
    ForEveryFault(
        SendFailures::kAsTheLinkReports,
        [](CDEV_CounterMate& driver) {
            char device_id[96] = {};
            return driver.GetDevID(device_id);
        },
        [] {});
}

// A file of several blocks, each of many reports.
std::string PushedContent() {
    std::string content;
    for (int index = 0; content.size() < 40000; ++index) content += std::to_string(index) + ",";
    return content;
}

TEST_F(LinkFaults, Push) {
    const std::string content = PushedContent();
    const std::string local = WriteTestFile(m_folder.path() + "/pushed.txt", content);
    ForEveryFault(
        SendFailures::kAsTheTransfer,
        [&](CDEV_CounterMate& driver) {
            return driver.PushFile(const_cast<char*>(local.c_str()), "/sdcard/pushed.txt");
        },
        [&] {
            EXPECT_TRUE(
                SameText(ReadTestFile(m_simulator->StoragePath("/sdcard/pushed.txt")), content));
        });
}

TEST_F(LinkFaults, Pull) {
    const std::string content = PushedContent();
    WriteTestFile(m_simulator->StoragePath("/sdcard/pulled.txt"), content);
    const std::string local = m_folder.path() + "/pulled.txt";
    ForEveryFault(
        SendFailures::kAsTheLinkReports,
        [&](CDEV_CounterMate& driver) {
            return driver.PullFile("/sdcard/pulled.txt", const_cast<char*>(local.c_str()));
        },
        [&] { EXPECT_TRUE(SameText(ReadTestFile(local), content)); });
}

}  // namespace
}  // namespace countermate::terminal::testing
