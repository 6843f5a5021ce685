// The request names the service answers, each bound to its adapter handler.
#pragma once

#include <string>
#include <vector>

class CDEV_HUB;

namespace countermate {

using RequestHandler = void (CDEV_HUB::*)(std::string args, std::string& reply);

// The handler of `method` (matched exactly and case-sensitively), or null for a name the
// service does not know.
RequestHandler find_request_handler(const std::string& method);

// Every request name the service answers, in alphabetical order: the table's names, and
// CancelOpt and GetServiceStatus, which are answered on the receiving thread.
std::vector<std::string> request_names();

}  // namespace countermate
