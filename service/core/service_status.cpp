#include "service_status.h"

#include <sstream>

#include "DEV_HUB.h"
#include "reply_format.h"
#include "request_table.h"
#include "service_metrics.h"

namespace countermate {

const char kServiceVersion[] = "0.2023.0530.1600";

namespace {

std::string quoted(const std::string& text) { return "\"" + json_escape(text) + "\""; }

std::string errors_json() {
    std::string list = "[";
    for (const RecordedError& error : recent_errors()) {
        if (list.size() > 1) list += ",";
        list += "{\"time\":" + quoted(error.when) + ",\"method\":" + quoted(error.method) +
                ",\"retVal\":" + std::to_string(error.result) +
                ",\"errMsg\":" + quoted(error.message) + "}";
    }
    return list + "]";
}

std::string names_json() {
    std::string list = "[";
    for (const std::string& name : request_names()) {
        if (list.size() > 1) list += ",";
        list += quoted(name);
    }
    return list + "]";
}

// With the document camera's driver the camera is a device of its own, whose state the service
// does not track yet; otherwise pictures come from the terminal's camera.
const char* camera_state() {
    return m_isUVCCamera ? "unknown" : terminal_state_name(terminal_state());
}

std::string html_escaped(const std::string& text) {
    std::string escaped;
    for (const char character : text) {
        switch (character) {
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '&': escaped += "&amp;"; break;
            case '"': escaped += "&quot;"; break;
            default: escaped += character;
        }
    }
    return escaped;
}

std::string status_page(const ServiceStatus& status) {
    std::ostringstream page;
    page
        << "<!DOCTYPE html><html lang=\"zh\"><head><meta charset=\"utf-8\">"
           "<meta http-equiv=\"refresh\" content=\"5\"><title>CounterMate</title><style>"
           "body{font-family:sans-serif;margin:2em}td,th{padding:.2em 1em;text-align:left}"
           ".connected{color:#070}.absent{color:#b00}.unknown{color:#777}</style></head><body>"
           "<h1>CounterMate</h1><table>"
        << "<tr><th>Version</th><td>" << kServiceVersion << "</td></tr>"
        << "<tr><th>Terminal</th><td class=\"" << terminal_state_name(terminal_state()) << "\">"
        << terminal_state_name(terminal_state()) << "</td></tr>"
        << "<tr><th>Camera</th><td class=\"" << camera_state() << "\">" << camera_state()
        << (m_isUVCCamera ? " (document camera)" : " (terminal)") << "</td></tr>"
        << "<tr><th>Card reader</th><td class=\"unknown\">unknown</td></tr>"
        << "<tr><th>Busy</th><td>" << (status.busy ? "yes" : "no") << "</td></tr>"
        << "<tr><th>Clients</th><td>" << status.clients << "</td></tr>"
        << "<tr><th>Up</th><td>" << static_cast<long>(uptime_seconds()) << " s</td></tr></table>"
        << "<h2>Last errors</h2><table><tr><th>Time</th><th>Request</th><th>retVal</th><th>errMsg</th></tr>";
    for (const RecordedError& error : recent_errors()) {
        page << "<tr><td>" << html_escaped(error.when) << "</td><td>" << html_escaped(error.method)
             << "</td><td>" << error.result << "</td><td>" << html_escaped(error.message)
             << "</td></tr>";
    }
    page
        << "</table><p><a href=\"/status\">/status</a> · <a href=\"/metrics\">/metrics</a></p></body></html>";
    return page.str();
}

std::string http_response(const char* status_line, const char* content_type,
                          const std::string& body) {
    return std::string("HTTP/1.1 ") + status_line + "\r\nContent-Type: " + content_type +
           "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

// The path of the request line "GET <path> HTTP/1.1", without a query.
std::string_view request_path(std::string_view request) {
    const size_t start = request.find(' ');
    const size_t end = start == std::string_view::npos ? start
                                                       : request.find_first_of(" ?\r", start + 1);
    if (end == std::string_view::npos) return {};
    return request.substr(start + 1, end - start - 1);
}

}  // namespace

std::string service_status_json(const ServiceStatus& status) {
    std::ostringstream json;
    json << R"({"method":"GetServiceStatus","retVal":0,"errMsg":"操作成功","version":")"
         << kServiceVersion << R"(","busy":)" << (status.busy ? "true" : "false")
         << R"(,"terminal":")" << terminal_state_name(terminal_state()) << R"(","camera":")"
         << camera_state() << R"(","cameraSource":")"
         << (m_isUVCCamera ? "document camera" : "terminal")
         << R"(","cardReader":"unknown","clients":)" << status.clients << R"(,"uptimeSeconds":)"
         << static_cast<long>(uptime_seconds()) << R"(,"lastErrors":)" << errors_json()
         << R"(,"requests":)" << names_json() << "}";
    return json.str();
}

std::string http_status_answer(std::string_view request, const ServiceStatus& status,
                               WsServer* server) {
    const std::string_view path = request_path(request);
    if (path == "/status")
        return http_response("200 OK", "application/json; charset=utf-8",
                             service_status_json(status));
    if (path == "/metrics")
        return http_response("200 OK", "text/plain; version=0.0.4; charset=utf-8",
                             metrics_text(server));
    if (path == "/")
        return http_response("200 OK", "text/html; charset=utf-8", status_page(status));
    return http_response("404 Not Found", "text/plain; charset=utf-8", "not found\n");
}

}  // namespace countermate
