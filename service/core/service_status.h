// The service's own account of itself: the GetServiceStatus request and the plain HTTP pages
// of the same port (/status, / and /metrics), for pages, support desks and monitoring.
// Nothing here names a customer or a file.
#pragma once

#include <string>
#include <string_view>

struct WsServer;

namespace countermate {

// What a status answer says, gathered by the caller.
struct ServiceStatus {
    bool busy = false;
    int clients = 0;
};

// The GetServiceStatus reply: {"method":"GetServiceStatus","retVal":0,"errMsg":"操作成功",
// "version":...,"busy":...,"terminal":"connected"|"absent"|"unknown","camera":...,
// "cameraSource":"terminal"|"document camera","cardReader":"unknown","clients":N,
// "uptimeSeconds":N,"lastErrors":[...],"requests":[every request name]}.
std::string service_status_json(const ServiceStatus& status);

// The answer to a plain HTTP GET on the service's port, as a whole HTTP/1.1 response:
// /status the status JSON, / a status page, /metrics the Prometheus text, anything else 404.
std::string http_status_answer(std::string_view request, const ServiceStatus& status,
                               WsServer* server);

// The product's version, as GetSoftInfo gives it.
extern const char kServiceVersion[];

}  // namespace countermate
