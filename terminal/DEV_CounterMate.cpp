// The factory, construction and destruction of the driver, and the port.
#include "DEV_CounterMate.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AUX_X.h"
#include "HidManager.h"
#include "ModuleLog.h"
#include "ResultCodes.h"

using namespace countermate::terminal;

namespace {

constexpr const char* kVersion = "0.20230530.1600";
constexpr unsigned short kVendorId = 0x1217;
constexpr unsigned short kProductId = 0x9455;

using CreateHidManagerFunction = CHidManager* (*)();
using DestroyHidManagerFunction = void (*)(CHidManager*);

std::atomic<CLogTracker*> g_module_log{nullptr};
std::mutex g_trackers_lock;  // guards g_trackers
std::vector<std::unique_ptr<CLogTracker>> g_trackers;

std::atomic<DestroyHidManagerFunction> g_destroy_hid_manager{nullptr};

}  // namespace

namespace countermate::terminal {

CLogTracker* ModuleLog() { return g_module_log.load(); }

void ReplaceModuleLog() {
    auto tracker = std::make_unique<CLogTracker>("", "", "", "CTM");
    std::lock_guard<std::mutex> guard(g_trackers_lock);
    g_module_log.store(tracker.get());
    g_trackers.push_back(std::move(tracker));
}

int ReadPacketSize(const char* config_path) {
    char value[1024] = {};
    AUX_X::X_INIKeyString(config_path, "DEVICE", "HID_DATAPACKET_SIZE", value, "512");
    const int configured = std::atoi(value);
    if (configured < kMinPacketSize || configured > kMaxPacketSize) {
        CTM_TRACE(LOG_LEVEL_ERROR, "CCounterMate",
                  "HID_DATAPACKET_SIZE=%d outside %d..%d, using %d", configured, kMinPacketSize,
                  kMaxPacketSize, kDefaultPacketSize);
        return kDefaultPacketSize;
    }
    return configured;
}

}  // namespace countermate::terminal

namespace {

// The packet size of CONFIG.ini beside the library, logged.
int ConfiguredPacketSize() {
    char folder[1024] = {};
    AUX_X::GetModuleCurPath(folder);
    const std::string config_path = std::string(folder) + "CONFIG.ini";
    const int packet_size = ReadPacketSize(config_path.c_str());
    CTM_TRACE(LOG_LEVEL_INFO, "CCounterMate", "HID_DATAPACKET_SIZE=%d", packet_size);
    return packet_size;
}

}  // namespace

CDEV_CounterMate::CDEV_CounterMate() : m_clock([] { return std::time(nullptr); }) {
    dlerror();
    void* library = dlopen("./libHid.so", RTLD_LAZY);
    if (library == nullptr) {
        const char* error = dlerror();
        CTM_TRACE(LOG_LEVEL_ERROR, "CDEV_CounterMate", "%s", error);
        std::fprintf(stderr, "%s\n", error);
        std::exit(1);
    }
    auto create = reinterpret_cast<CreateHidManagerFunction>(dlsym(library, "CreateHidManager"));
    auto destroy = reinterpret_cast<DestroyHidManagerFunction>(dlsym(library, "DestroyHidManager"));
    g_destroy_hid_manager.store(destroy);
    if (create == nullptr || destroy == nullptr) {
        CTM_TRACE(LOG_LEVEL_ERROR, "CDEV_CounterMate", "加载动态库（libHid.so）函数失败！");
        std::printf("dlsym error!\n");
    }
    // Without both entries the link stays unusable: every operation then answers -3.
    if (create != nullptr && destroy != nullptr) m_hid = create();
    m_packet_size = ConfiguredPacketSize();
    m_port_open.store(false);
}

CDEV_CounterMate::CDEV_CounterMate(std::unique_ptr<CHidManager> link)
    : m_owned_link(std::move(link)), m_clock([] { return std::time(nullptr); }) {
    m_hid = m_owned_link.get();
    m_packet_size = ConfiguredPacketSize();
    m_port_open.store(false);
}

CDEV_CounterMate::~CDEV_CounterMate() {
    if (m_owned_link) return;  // released with its owner
    DestroyHidManagerFunction destroy = g_destroy_hid_manager.load();
    if (m_hid != nullptr && destroy != nullptr) destroy(m_hid);
}

int CDEV_CounterMate::HIDOpenPort() {
    std::unique_lock<std::mutex> guard(m_port_lock);
    m_port_changed.wait(guard, [this] { return !m_port_closing.load(); });
    if (m_port_open.load()) return kSuccess;
    if (m_hid == nullptr || m_hid->Open(kVendorId, kProductId) < 1) return kPortNotOpen;
    m_port_open.store(true);
    return kSuccess;
}

int CDEV_CounterMate::HIDClosePort() {
    if (!m_port_open.load()) return kSuccess;
    return ClosePortWhenIdle(false);
}

int CDEV_CounterMate::UseManager(const std::function<int(CHidManager&)>& call) {
    {
        std::lock_guard<std::mutex> guard(m_port_lock);
        if (!m_port_open.load() || m_port_closing.load()) return -1;
        ++m_calls_in_manager;
    }
    const int result = call(*m_hid);
    std::lock_guard<std::mutex> guard(m_port_lock);
    if (--m_calls_in_manager == 0) m_port_changed.notify_all();
    return result;
}

int CDEV_CounterMate::ClosePortWhenIdle(bool lost) {
    std::unique_lock<std::mutex> guard(m_port_lock);
    // Another thread's close (of the same loss, seen by its own read or write) goes first.
    m_port_changed.wait(guard, [this] { return !m_port_closing.load(); });
    if (!m_port_open.load()) return kSuccess;
    // No new call enters the manager from here on; the ones inside return within one wait.
    m_port_closing.store(true);
    m_port_changed.wait(guard, [this] { return m_calls_in_manager == 0; });
    const bool closed = m_hid->Close() == 0;
    if (closed) m_port_open.store(false);
    m_port_closing.store(false);
    m_port_changed.notify_all();
    guard.unlock();
    // Nothing read on this opening belongs to the next one.
    if (closed) DropKeptReports(ReportReader::kAny);
    if (lost && closed) {
        CTM_TRACE(LOG_LEVEL_ERROR, "CDEV_CounterMate", "终端连接已断开，端口已关闭！");
    }
    return closed ? kSuccess : kPortNotOpen;
}

extern "C" {

__attribute__((visibility("default"))) CCounterMate* CreateCounterMate() {
    ReplaceModuleLog();
    CTM_TRACE(LOG_LEVEL_INFO, "CCounterMate", "CounterMateVersion:%s", kVersion);
    return new CDEV_CounterMate();
}

__attribute__((visibility("default"))) void DestroyCounterMate(CCounterMate* counter_mate) {
    if (counter_mate != nullptr) delete static_cast<CDEV_CounterMate*>(counter_mate);
}
}
