// The terminal simulator over a Unix SOCK_SEQPACKET socket: one packet is one report payload.
// Waits use poll() on the socket so that an idle or failed link costs a sleeping thread only.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "HidTransport.h"

namespace countermate::hid {
namespace {

enum class Readiness { kReady, kIdle, kFailed };

// Waits up to one wait period for `events` on the socket.
Readiness WaitFor(int socket_fd, short events) {
    pollfd entry{socket_fd, events, 0};
    const int ready = poll(&entry, 1, kWaitMilliseconds);
    if (ready == 0) return Readiness::kIdle;
    if (ready < 0) return errno == EINTR ? Readiness::kIdle : Readiness::kFailed;
    // A hang-up with packets still queued reports POLLIN too: they are read before the end.
    if ((entry.revents & events) != 0) return Readiness::kReady;
    return Readiness::kFailed;  // hang-up or error, nothing left to read or room to write
}

class SimulatorTransport final : public Transport {
public:
    explicit SimulatorTransport(int socket_fd) : m_socket(socket_fd) {}
    ~SimulatorTransport() override { close(m_socket); }

    int Write(const unsigned char* report, int length) override {
        // The report number stays on this side: the simulator's packets are payloads.
        int result = PutPacket(report + 1, length - 1);
        if (result == 0) {
            switch (WaitFor(m_socket, POLLOUT)) {
                case Readiness::kIdle: return 0;
                case Readiness::kFailed: return DeviceGone();
                case Readiness::kReady: result = PutPacket(report + 1, length - 1); break;
            }
        }
        return result <= 0 ? result : length;
    }

    int Read(unsigned char* buffer, int capacity) override {
        switch (WaitFor(m_socket, POLLIN)) {
            case Readiness::kIdle: return 0;
            case Readiness::kFailed: return DeviceGone();
            case Readiness::kReady: break;
        }
        return TakePacket(buffer, capacity);
    }

private:
    // One queued packet: its size, 0 when none is queued, below 0 when the simulator has gone
    // (an end of stream: it never sends an empty packet).
    int TakePacket(unsigned char* buffer, int capacity) {
        const ssize_t received =
            recv(m_socket, buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
        if (received > 0) return static_cast<int>(received);
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
        return DeviceGone();
    }

    // Queues one packet: 1 when sent, 0 when the socket is full, below 0 when the simulator
    // has gone.
    int PutPacket(const unsigned char* payload, int length) {
        if (send(m_socket, payload, static_cast<size_t>(length), MSG_DONTWAIT | MSG_NOSIGNAL) >=
            0) {
            return 1;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
        return DeviceGone();
    }

    int m_socket;
};

}  // namespace

std::unique_ptr<Transport> OpenSimulatorTransport(const char* socket_path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(socket_path) >= sizeof(address.sun_path)) return nullptr;
    std::strcpy(address.sun_path, socket_path);
    const int socket_fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (socket_fd < 0) return nullptr;
    if (connect(socket_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(socket_fd);
        return nullptr;
    }
    return std::make_unique<SimulatorTransport>(socket_fd);
}

}  // namespace countermate::hid
