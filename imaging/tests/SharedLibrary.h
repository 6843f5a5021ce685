// Test helper: a product library loaded from the deploy folder the way the product loads it.
#pragma once

#include <dlfcn.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

class SharedLibrary {
 public:
  explicit SharedLibrary(const std::string& fileName) {
    const char* folder = std::getenv("COUNTERMATE_DEPLOY_DIR");
    const std::string path = std::string(folder ? folder : COUNTERMATE_DEPLOY_DIR) + "/" + fileName;
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(dlerror());
  }
  ~SharedLibrary() { dlclose(handle_); }
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The entry bound by name; throws when the library does not export it.
  template <typename Function>
  Function entry(const char* name) const {
    void* address = dlsym(handle_, name);
    if (!address) throw std::runtime_error(std::string("missing entry ") + name);
    return reinterpret_cast<Function>(address);
  }

 private:
  void* handle_;
};
