// The exported HTTP downloader against a scripted server on the loopback: each path of the
// server answers with fixed raw bytes, and every request it received is kept for inspection.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "http_download.h"
#include "http_internal.h"

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

// A server that answers one connection at a time with the raw text scripted for the request's
// path (404 for any other path). A stalling answer sends its text and then holds the connection
// open, without sending more, until the server is destroyed.
class ScriptedHttpServer {
public:
    ScriptedHttpServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        // Port 0: the kernel picks a free port, so no other test can take it in between.
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 8) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            pipe2(stop_, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "the scripted server could not start";
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }

    ~ScriptedHttpServer() {
        if (thread_.joinable()) {
            const char wake = 1;
            EXPECT_EQ(write(stop_[1], &wake, 1), 1);
            thread_.join();
        }
        close(listener_);
        close(stop_[0]);
        close(stop_[1]);
    }

    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    // Scripts `path`; "{port}" in `text` stands for the server's port.
    void answer(const std::string& path, std::string text, bool stall = false) {
        for (size_t at; (at = text.find("{port}")) != std::string::npos;) {
            text.replace(at, 6, std::to_string(port_));
        }
        std::lock_guard<std::mutex> hold(lock_);
        answers_[path] = {std::move(text), stall};
    }

    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> hold(lock_);
        return requests_;
    }

private:
    struct Answer {
        std::string text;
        bool stall = false;
    };

    // Waits for `socket` to become readable; false once the server is being stopped.
    bool waitReadable(int socket) const {
        pollfd entries[2] = {{socket, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        while (poll(entries, 2, -1) < 0) {
        }
        return (entries[1].revents & POLLIN) == 0;
    }

    void serve() {
        while (waitReadable(listener_)) {
            const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) continue;
            handle(connection);
            close(connection);
        }
    }

    void handle(int connection) {
        std::string request;
        char piece[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            if (!waitReadable(connection)) return;
            const ssize_t count = recv(connection, piece, sizeof piece, 0);
            if (count <= 0) break;
            request.append(piece, size_t(count));
        }
        Answer answer{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"};
        {
            std::lock_guard<std::mutex> hold(lock_);
            requests_.push_back(request);
            const size_t start = request.find(' ') + 1, end = request.find(' ', start);
            const auto scripted = answers_.find(request.substr(start, end - start));
            if (scripted != answers_.end()) answer = scripted->second;
        }
        for (size_t sent = 0; sent < answer.text.size();) {
            const ssize_t count = send(connection, answer.text.data() + sent,
                                       answer.text.size() - sent, MSG_NOSIGNAL);
            if (count <= 0) break;
            sent += size_t(count);
        }
        if (answer.stall) {
            pollfd entry{stop_[0], POLLIN, 0};
            while (poll(&entry, 1, -1) < 0) {
            }
        }
    }

    int listener_ = -1;
    int stop_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex lock_;
    std::map<std::string, Answer> answers_;
    std::vector<std::string> requests_;
};

// `size` bytes running through every byte value, NUL, CR and LF included.
std::string binaryBody(size_t size) {
    std::string body(size, '\0');
    for (size_t index = 0; index < size; ++index)
        body[index] = char((index * 7 + index / 256) & 0xff);
    return body;
}

std::string withLength(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string redirectTo(const std::string& path) {
    return "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:{port}" + path +
           "\r\nContent-Length: 0\r\n\r\n";
}

std::optional<std::string> fileContent(const fs::path& path) {
    if (!fs::exists(path)) return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// A fresh folder per test for the output files.
class HttpDownload : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/http_download_tests.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        output = folder / "out.bin";
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path folder;
    fs::path output;
    ScriptedHttpServer server;
};

// One scripted exchange: the server's answers by path, the path asked for, and what must come
// of it. A missing `content` means that no output file may exist afterwards.
struct ExchangeCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> answers;
    const char* path;
    int result;
    std::optional<std::string> content;
    size_t requests;
};

const std::string kBody = binaryBody(20000);  // three pieces of the work buffer

const ExchangeCase kExchanges[] = {
    {"LengthBodyByteExact", {{"/file", withLength(kBody)}}, "/file", 0, kBody, 1},
    {"ChunkedInThreeChunks",
     {{"/file",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
       "5\r\nHello\r\n2710;name=value\r\n" +
           kBody.substr(0, 10000) + "\r\n1\r\n!\r\n0\r\n\r\n"}},
     "/file",
     0,
     "Hello" + kBody.substr(0, 10000) + "!",
     1},
    {"RedirectToAnotherPath",
     {{"/old", redirectTo("/new")}, {"/new", withLength("moved here")}},
     "/old",
     0,
     "moved here"s,
     2},
    {"FiveRedirectsAreFollowed",
     {{"/hop0", redirectTo("/hop1")},
      {"/hop1", redirectTo("/hop2")},
      {"/hop2", redirectTo("/hop3")},
      {"/hop3", redirectTo("/hop4")},
      {"/hop4", redirectTo("/hop5")},
      {"/hop5", withLength("end")}},
     "/hop0",
     0,
     "end"s,
     6},
    {"RedirectLoopStopsAtTheBound", {{"/loop", redirectTo("/loop")}}, "/loop", -1, std::nullopt, 6},
    {"NotFound",
     {{"/file", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"}},
     "/file",
     -1,
     std::nullopt,
     1},
    // Two whole pieces are written before the end shows: the file must go again.
    {"BodyShorterThanLength",
     {{"/file", "HTTP/1.1 200 OK\r\nContent-Length: 30000\r\n\r\n" + kBody}},
     "/file",
     -1,
     std::nullopt,
     1},
    {"BodyShorterThanOnePiece",
     {{"/file", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly a part"}},
     "/file",
     -1,
     std::nullopt,
     1},
    {"ChunkedCutShort",
     {{"/file", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nHello\r\n"}},
     "/file",
     -1,
     std::nullopt,
     1},
    {"ChunkLongerThanItsSize",
     {{"/file", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nHello\r\n0\r\n\r\n"}},
     "/file",
     -1,
     std::nullopt,
     1},
    {"ChunkSizeOverflows",
     {{"/file",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF1\r\nx\r\n0\r\n\r\n"}},
     "/file",
     -1,
     std::nullopt,
     1},
    {"ChunkSizeNotHexadecimal",
     {{"/file", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nx\r\n0\r\n\r\n"}},
     "/file",
     -1,
     std::nullopt,
     1},
    {"TransferEncodingNotChunked",
     {{"/file", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n5\r\nHello\r\n0\r\n\r\n"}},
     "/file",
     -1,
     std::nullopt,
     1},
    {"LengthZeroCreatesNoFile",
     {{"/file", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}},
     "/file",
     0,
     std::nullopt,
     1},
    {"NoLengthReadsToTheClose",
     {{"/file", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nup to the end"}},
     "/file",
     0,
     "up to the end"s,
     1},
    {"LengthWithoutBlankAndOtherCase",
     {{"/file", "HTTP/1.0 200 OK\r\ncontent-LENGTH:5\r\n\r\nhello"}},
     "/file",
     0,
     "hello"s,
     1},
    {"SimilarHeaderNameIsNotTheLength",
     {{"/file", "HTTP/1.1 200 OK\r\nX-Content-Length: 2\r\nContent-Length: 5\r\n\r\nhello"}},
     "/file",
     0,
     "hello"s,
     1},
    {"NegativeLength",
     {{"/file", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nhello"}},
     "/file",
     -1,
     std::nullopt,
     1},
    {"LengthOverflows",
     {{"/file", "HTTP/1.1 200 OK\r\nContent-Length: 4294967301\r\n\r\nhello"}},
     "/file",
     -1,
     std::nullopt,
     1},
    {"TwoDifferentLengths",
     {{"/file", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 3\r\n\r\nhello"}},
     "/file",
     -1,
     std::nullopt,
     1},
    {"HeaderLineLongerThanTheWorkBuffer",
     {{"/file", "HTTP/1.1 200 OK\r\nX-Long: " + std::string(9000, 'a') +
                    "\r\nContent-Length: 5\r\n\r\nhello"}},
     "/file",
     -1,
     std::nullopt,
     1},
    {"HeaderEndsBeforeTheEmptyLine",
     {{"/file", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"}},
     "/file",
     -1,
     std::nullopt,
     1},
    {"NotAnHttpAnswer", {{"/file", "SSH-2.0-OpenSSH_9.2\r\n\r\n"}}, "/file", -1, std::nullopt, 1},
    {"RedirectToHttps",
     {{"/old", "HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1:{port}/new\r\n\r\n"},
      {"/new", withLength("secret")}},
     "/old",
     -1,
     std::nullopt,
     1},
    {"RedirectToRelativeTarget",
     {{"/old", "HTTP/1.1 302 Found\r\nLocation: /new\r\n\r\n"}, {"/new", withLength("moved")}},
     "/old",
     -1,
     std::nullopt,
     1},
    {"RedirectWithoutLocation",
     {{"/old", "HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n"}},
     "/old",
     -1,
     std::nullopt,
     1},
    {"LocationLongerThanItsField",
     {{"/old", "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:{port}/" + std::string(2100, 'n') +
                   "\r\n\r\n"}},
     "/old",
     -1,
     std::nullopt,
     1},
};

void PrintTo(const ExchangeCase& exchange, std::ostream* out) { *out << exchange.name; }

class HttpExchange : public HttpDownload, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(HttpExchange, EndsAsScripted) {
    const ExchangeCase& exchange = GetParam();
    for (const auto& [path, text] : exchange.answers) server.answer(path, text);
    EXPECT_EQ(http_download(server.url(exchange.path).c_str(), output.c_str()), exchange.result);
    EXPECT_EQ(fileContent(output), exchange.content);
    EXPECT_EQ(server.requests().size(), exchange.requests);
    EXPECT_TRUE(fs::is_empty(folder) || exchange.content.has_value()) << "a stray file was left";
}

INSTANTIATE_TEST_SUITE_P(Answers, HttpExchange, ::testing::ValuesIn(kExchanges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpDownload, SendsTheRequestTextExactly) {
    server.answer("/old", redirectTo("/dir/new?q=1"));
    server.answer("/dir/new?q=1", withLength("x"));
    ASSERT_EQ(http_download(server.url("/old").c_str(), output.c_str()), 0);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto expected = [](const std::string& path) {
        return "GET " + path +
               " HTTP/1.1\r\nAccept: */*\r\n"
               "User-Agent: Mozilla/5.0 (compatible; MSIE 5.01; Windows NT 5.0)\r\n"
               "Host: 127.0.0.1\r\nConnection: Close\r\n\r\n";
    };
    EXPECT_EQ(requests[0], expected("/old"));
    EXPECT_EQ(requests[1], expected("/dir/new?q=1"));
}

TEST_F(HttpDownload, ReplacesALongerExistingFileWhole) {
    std::ofstream(output) << std::string(5000, 'o');
    server.answer("/file", withLength("new"));
    ASSERT_EQ(http_download(server.url("/file").c_str(), output.c_str()), 0);
    EXPECT_EQ(fileContent(output), "new"s);
}

TEST_F(HttpDownload, FailureBehindASymbolicLinkEmptiesTheTargetAndKeepsTheLink) {
    const fs::path target = folder / "target.bin";
    std::ofstream(target) << "old content";
    fs::create_symlink(target, output);
    server.answer("/file", "HTTP/1.1 200 OK\r\nContent-Length: 30000\r\n\r\n" + kBody);
    EXPECT_EQ(http_download(server.url("/file").c_str(), output.c_str()), -1);
    EXPECT_TRUE(fs::is_symlink(output));
    EXPECT_EQ(fileContent(target), ""s);
}

// Headers and part of the body arrive, then nothing: a short total limit ends the download long
// before the per-read time-out could.
TEST_F(HttpDownload, StallingServerIsCutOffByTheTotalLimit) {
    server.answer("/file", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nfirst bytes", true);
    countermate::http::DownloadLimits limits;
    limits.totalMs = 500;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(countermate::http::download(server.url("/file").c_str(), output.c_str(), limits), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(HTTP_IO_TIMEOUT_SECONDS - 2));
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(HttpDownload, RefusesUrlsBeforeConnecting) {
    const std::string port = std::to_string(server.port());
    for (const std::string& url :
         {"http://127.0.0.1:" + port, "http://127.0.0.1:65535/file"s,
          "https://127.0.0.1:" + port + "/file", "http://127.0.0.1:" + port + "/a b"}) {
        SCOPED_TRACE(url);
        EXPECT_EQ(http_download(url.c_str(), output.c_str()), -1);
    }
    EXPECT_EQ(http_download(nullptr, output.c_str()), -1);
    EXPECT_EQ(http_download(server.url("/file").c_str(), nullptr), -1);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(fs::is_empty(folder));
}

// The open must neither wait for a FIFO's reader nor replace what is there.
TEST_F(HttpDownload, OutputPathThatIsNoRegularFileIsLeftAlone) {
    server.answer("/file", withLength("content"));
    const fs::path fifo = folder / "fifo", directory = folder / "directory";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(directory);
    for (const fs::path& path : {fifo, directory}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(http_download(server.url("/file").c_str(), path.c_str()), -1);
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_directory(directory) && fs::is_empty(directory));
    EXPECT_EQ(server.requests().size(), 2u);
}

struct UrlCase {
    const char* url;
    bool accepted;
    const char* host = "";
    int port = 0;
    const char* path = "";
};

TEST(HttpUrl, SplitsIntoHostPortAndPath) {
    const std::string longHost(255, 'h'), longPath = "/" + std::string(2046, 'p');
    const std::string tooLongHost = longHost + "h", tooLongPath = longPath + "p";
    const std::string maxHostUrl = "http://" + longHost + "/",
                      tooLongHostUrl = "http://" + tooLongHost + "/";
    const std::string maxPathUrl = "http://h" + longPath, tooLongPathUrl = "http://h" + tooLongPath;
    const UrlCase cases[] = {
        {"http://example.com/a/b", true, "example.com", 80, "/a/b"},
        {"HTTP://Host:8080/x?u=http://y/", true, "Host", 8080, "/x?u=http://y/"},
        {"example.com/", true, "example.com", 80, "/"},
        {"http://h:65534/", true, "h", 65534, "/"},
        {"http://h:1/", true, "h", 1, "/"},
        {maxHostUrl.c_str(), true, longHost.c_str(), 80, "/"},
        {maxPathUrl.c_str(), true, "h", 80, longPath.c_str()},
        {"http://example.com", false},
        {"http://h:65535/", false},
        {"http://h:0/", false},
        {"http://h:/", false},
        {"http://h:8a/", false},
        {"http://h:4294967376/", false},  // would wrap to 80 in 32 bits
        {"http://h:-1/", false},
        {"https://h/", false},
        {"ftp://h/", false},
        {"http:///path", false},
        {"http://h/a b", false},
        {"http://h/a\r\nX-Injected: 1", false},
        {tooLongHostUrl.c_str(), false},
        {tooLongPathUrl.c_str(), false},
    };
    for (const UrlCase& entry : cases) {
        SCOPED_TRACE(std::string(entry.url).substr(0, 60));
        http_t info{};
        strcpy(info.host, "untouched");
        ASSERT_EQ(parser_URL(entry.url, &info), entry.accepted ? 0 : -1);
        if (!entry.accepted) {
            EXPECT_STREQ(info.host, "untouched");
            continue;
        }
        EXPECT_STREQ(info.host, entry.host);
        EXPECT_EQ(info.port, entry.port);
        EXPECT_STREQ(info.path, entry.path);
    }
    http_t info{};
    EXPECT_EQ(parser_URL(nullptr, &info), -1);
    EXPECT_EQ(parser_URL("http://h/", nullptr), -1);
}

TEST(HttpText, StrncasestrSearchesTheFirstCharactersOnly) {
    struct Case {
        const char* text;
        const char* pattern;
        size_t length;
        int offset;  // -1: no match
    };
    const Case cases[] = {
        {"Transfer-Encoding: Chunked", "chunked", 100, 19},
        {"HTTP/1.1 200 OK", "http", 15, 0},
        {"xxhttp", "HTTP", 6, 2},
        {"xxhttp", "HTTP", 5, -1},  // the match would end past the length
        {"ab", "abc", 10, -1},
        {"abc", "", 3, 0},
        {"", "a", 5, -1},
        {"aaab", "aab", 4, 1},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(std::string(entry.text) + " / " + entry.pattern);
        const char* found = strncasestr(entry.text, entry.pattern, entry.length);
        EXPECT_EQ(found == nullptr ? -1 : int(found - entry.text), entry.offset);
    }
    EXPECT_EQ(strncasestr(nullptr, "a", 1), nullptr);
    EXPECT_EQ(strncasestr("a", nullptr, 1), nullptr);
}

TEST(HttpSpeed, DividesBytesByElapsedSecondsAtLeastOne) {
    struct Case {
        int bytes;
        time_t start, end;
        float speed;
    };
    const Case cases[] = {
        {1000, 10, 14, 250.0f}, {1000, 10, 10, 1000.0f}, {1000, 14, 10, 1000.0f}, {0, 0, 5, 0.0f}};
    for (const Case& entry : cases) {
        http_t info{};
        info.bytes_written = entry.bytes;
        info.start_time = entry.start;
        info.end_time = entry.end;
        EXPECT_FLOAT_EQ(calc_download_speed(&info), entry.speed)
            << entry.start << ".." << entry.end;
    }
    EXPECT_EQ(calc_download_speed(nullptr), 0.0f);
}

}  // namespace
