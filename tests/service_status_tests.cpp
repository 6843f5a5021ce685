// The service's account of itself: the status request while idle, busy and without a terminal,
// and the plain HTTP pages of the same port (/status, the status page, the Prometheus figures).
#include <cstdio>
#include <memory>
#include <string>

#include "raw_ws_socket.h"
#include "service_test_base.h"

namespace countermate::testing {
namespace {

const char kStatusRequest[] = R"({"method":"GetServiceStatus","args":{}})";

// The whole answer to a plain HTTP GET of `path` on `port`.
std::string http_get(int port, const std::string& path) {
    RawWsSocket client;
    if (!client.connect(port)) return std::string();
    client.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    std::string answer;
    while (client.wait_readable(5000)) {
        const std::string piece = client.read_some();
        if (piece.empty()) break;  // the service ends the connection after its answer
        answer += piece;
    }
    return answer;
}

std::string body_of(const std::string& answer) {
    const size_t blank = answer.find("\r\n\r\n");
    return blank == std::string::npos ? std::string() : answer.substr(blank + 4);
}

// Runs the Prometheus text-format parser of Debian's python3-prometheus-client over `text` and
// returns what it read, one "name{labels} value" per line; "unavailable" without the parser.
std::string parsed_metrics(const std::string& text) {
    FILE* check = popen("/usr/bin/python3 -c 'import prometheus_client.parser' 2>/dev/null", "r");
    if (!check || pclose(check) != 0) return "unavailable";
    TemporaryFolder folder;
    const std::string input = folder.path() + "/metrics.txt";
    if (FILE* file = std::fopen(input.c_str(), "w")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    const std::string command =
        "/usr/bin/python3 -c 'import sys\nfrom prometheus_client.parser import text_string_to_metric_families as f\n"
        "for family in f(open(sys.argv[1]).read()):\n"
        "  for s in family.samples: print(s.name, sorted(s.labels.items()), s.value)' " +
        input;
    std::string output;
    if (FILE* parser = popen(command.c_str(), "r")) {
        char line[1024];
        while (std::fgets(line, sizeof line, parser)) output += line;
        if (pclose(parser) != 0) return "parse error:\n" + output;
    }
    return output;
}

class ServiceStatus : public ServiceTest {};

TEST_F(ServiceStatus, IdleServiceLooksAtTheTerminalAndListsItsRequests) {
    const CJsonObject status = parse(call(kStatusRequest));
    EXPECT_EQ(status("method"), "GetServiceStatus");
    EXPECT_EQ(status("retVal"), "0");
    EXPECT_EQ(status("busy"), "false");
    EXPECT_EQ(status("terminal"), "connected");
    EXPECT_EQ(status("cameraSource"), "terminal");
    CJsonObject requests;
    ASSERT_TRUE(status.Get("requests", requests));
    std::string names;
    for (int index = 0; index < requests.GetArraySize(); ++index) {
        std::string name;
        requests.Get(index, name);
        names += name + " ";
    }
    for (const char* name :
         {"CancelOpt ", "GetServiceStatus ", "GetDevID ", "DeleteFile ", "ReadIDCard "}) {
        EXPECT_NE(names.find(name), std::string::npos) << name << "in " << names;
    }
    EXPECT_EQ(names.find("DeleteDevFile"), std::string::npos)
        << "handler names are not request names";
    EXPECT_TRUE(commands_received().empty()) << "looking at the terminal sends it nothing";
}

TEST_F(ServiceStatus, AnsweredAtOnceWhileARequestWaits) {
    start_endless_wait("InputNumber", R"({"method":"InputNumber","args":{"outTimes":60}})");

    auto support = service_->connect();
    const CJsonObject status = parse(call_service(*support, kStatusRequest, 2000));
    EXPECT_EQ(status("busy"), "true");
    EXPECT_EQ(status("terminal"), "connected");
    EXPECT_EQ(status("clients"), "2");

    std::string cancelled;
    ASSERT_TRUE(support->send_text(R"({"method":"CancelOpt","args":{}})"));
    ASSERT_TRUE(support->receive(cancelled, 10000));
    next_message(10000);  // the interaction's own reply
}

TEST_F(ServiceStatus, PagesOfThePortTellTheSameAndCountRequests) {
    const int port = service_->port();
    const std::string status = http_get(port, "/status");
    EXPECT_EQ(status.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << status;
    EXPECT_NE(status.find("Content-Type: application/json"), std::string::npos);
    EXPECT_EQ(parse(body_of(status))("method"), "GetServiceStatus");

    const std::string page = http_get(port, "/");
    EXPECT_NE(page.find("Content-Type: text/html"), std::string::npos);
    EXPECT_NE(page.find("<td class=\"connected\">connected</td>"), std::string::npos) << page;

    EXPECT_EQ(http_get(port, "/elsewhere").rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);

    const std::string sample =
        "countermate_requests_total [('method', 'GetDevID'), ('retval', '0')] ";
    const std::string before = parsed_metrics(body_of(http_get(port, "/metrics")));
    if (before == "unavailable") GTEST_SKIP() << "python3-prometheus-client is not installed";
    ASSERT_EQ(before.find("parse error"), std::string::npos) << before;
    const size_t at_before = before.find(sample);
    const double count_before =
        at_before == std::string::npos ? 0 : std::stod(before.substr(at_before + sample.size()));
    call(R"({"method":"GetDevID","args":{}})");
    call(R"({"method":"GetDevID","args":{}})");
    // Eleven bytes pushed to the terminal as a file.
    call(
        R"({"method":"DownLoadFile","args":{"fileType":0,"fileForm":1,"fileName":"x.png","fileData":"SGVsbG8gdGhlcmU="}})");
    const std::string after = parsed_metrics(body_of(http_get(port, "/metrics")));
    const size_t at_after = after.find(sample);
    ASSERT_NE(at_after, std::string::npos) << after;
    EXPECT_EQ(std::stod(after.substr(at_after + sample.size())), count_before + 2);
    EXPECT_NE(after.find("countermate_request_duration_seconds_count [('method', 'GetDevID')]"),
              std::string::npos);
    EXPECT_NE(after.find("countermate_terminal_up [] 1.0"), std::string::npos) << after;
    EXPECT_NE(after.find("countermate_connections_closed_total [('reason', 'protocol_error')]"),
              std::string::npos);
    const std::string pushed = "countermate_terminal_file_bytes_total [('direction', 'pushed')] ";
    const auto bytes_in = [&](const std::string& text) {
        const size_t at = text.find(pushed);
        return at == std::string::npos ? -1.0 : std::stod(text.substr(at + pushed.size()));
    };
    EXPECT_EQ(bytes_in(after) - bytes_in(before), 11) << after;
}

TEST(ServiceStatusWithoutTerminal, TheTerminalIsAbsent) {
    ServiceWithoutTerminal service;
    ASSERT_TRUE(service.started());
    const CJsonObject status = parse(call_service(service.client(), kStatusRequest));
    EXPECT_EQ(status("terminal"), "absent");
    EXPECT_EQ(status("busy"), "false");
}

}  // namespace
}  // namespace countermate::testing
