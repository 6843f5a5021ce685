// The request names the service answers, each bound to its adapter handler.
#pragma once

#include <string>

class CDEV_HUB;

namespace countermate {

using RequestHandler = void (CDEV_HUB::*)(std::string args, std::string& reply);

// The handler of `method` (matched exactly and case-sensitively), or null for a name the
// service does not know.
RequestHandler find_request_handler(const std::string& method);

}  // namespace countermate
