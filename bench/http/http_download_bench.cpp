// 100 MB from a server on the loopback into a local file, by http_download and by `curl -o`
// against the same server in the same run. The curl side is skipped where curl is absent.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "http_download.h"

namespace {

constexpr int64_t kBodyBytes = 100 * 1000 * 1000;
constexpr const char* kCurl = "/usr/bin/curl";

// Answers every connection with the same 100 MB body, sent from one 1 MiB block, then closes it.
class BodyServer {
public:
    BodyServer() : block_(1 << 20, 'b') {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        started_ = bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                   listen(listener_, 4) == 0 &&
                   getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                   pipe2(stop_, O_CLOEXEC) == 0;
        if (!started_) return;
        url_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/body";
        thread_ = std::thread([this] { serve(); });
    }
    ~BodyServer() {
        if (thread_.joinable()) {
            const char wake = 1;
            if (write(stop_[1], &wake, 1) != 1) abort();
            thread_.join();
        }
        close(listener_);
        if (started_) {
            close(stop_[0]);
            close(stop_[1]);
        }
    }
    bool started() const { return started_; }
    const std::string& url() const { return url_; }

private:
    void serve() {
        for (;;) {
            pollfd entries[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (poll(entries, 2, -1) < 0) continue;
            if (entries[1].revents & POLLIN) return;
            const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) continue;
            answer(connection);
            close(connection);
        }
    }
    void answer(int connection) {
        std::string request;
        char piece[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            const ssize_t count = recv(connection, piece, sizeof piece, 0);
            if (count <= 0) return;
            request.append(piece, size_t(count));
        }
        const std::string head =
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kBodyBytes) + "\r\n\r\n";
        if (!sendAll(connection, head.data(), head.size())) return;
        for (int64_t left = kBodyBytes; left > 0;) {
            const size_t count = size_t(std::min<int64_t>(left, int64_t(block_.size())));
            if (!sendAll(connection, block_.data(), count)) return;
            left -= int64_t(count);
        }
    }
    static bool sendAll(int connection, const char* data, size_t size) {
        while (size > 0) {
            const ssize_t count = send(connection, data, size, MSG_NOSIGNAL);
            if (count <= 0) return false;
            data += count;
            size -= size_t(count);
        }
        return true;
    }

    int listener_ = -1;
    int stop_[2] = {-1, -1};
    bool started_ = false;
    std::string url_;
    std::vector<char> block_;
    std::thread thread_;
};

std::string outputPath(const char* name) {
    const char* folder = getenv("TMPDIR");
    return std::string(folder != nullptr ? folder : "/tmp") + "/" + name + "." +
           std::to_string(getpid());
}

bool hasWholeBody(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && status.st_size == kBodyBytes;
}

bool curlDownload(const std::string& url, const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        execl(kCurl, kCurl, "--silent", "--fail", "-o", path.c_str(), url.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

template <typename Download>
void measure(benchmark::State& state, const char* name, Download download) {
    BodyServer server;
    if (!server.started()) {
        state.SkipWithError("the loopback server did not start");
        return;
    }
    const std::string path = outputPath(name);
    for (auto _ : state) {
        if (!download(server.url(), path) || !hasWholeBody(path)) {
            state.SkipWithError("the download failed");
            break;
        }
    }
    unlink(path.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * kBodyBytes);
}

void BM_HttpDownload100MB(benchmark::State& state) {
    measure(state, "http_download_bench.out", [](const std::string& url, const std::string& path) {
        return http_download(url.c_str(), path.c_str()) == 0;
    });
}

void BM_Curl100MB(benchmark::State& state) {
    if (access(kCurl, X_OK) != 0) {
        state.SkipWithError("curl is absent");
        return;
    }
    measure(state, "curl_bench.out", curlDownload);
}

BENCHMARK(BM_HttpDownload100MB)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Curl100MB)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
