#include "local_paths.h"

#include <sys/stat.h>

#include <cstdlib>

#include "server_settings.h"

namespace countermate {
namespace {

// `path` with every symbolic link followed, or empty when it does not resolve.
std::string real_path(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return std::string();
    std::string result(real);
    std::free(real);
    return result;
}

// Where `path` leads: the path resolved, or, for one that does not resolve (not yet there, or a
// dangling link), its folder resolved plus its name. Empty when that folder is not a directory.
std::string destination(const std::string& path) {
    std::string whole = real_path(path);
    if (!whole.empty()) return whole;
    const size_t slash = path.find_last_of('/');
    const bool bare_name = slash == std::string::npos;
    const std::string folder = bare_name ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = bare_name ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return std::string();
    const std::string base = real_path(folder);
    struct stat status {};
    if (base.empty() || stat(base.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return std::string();
    }
    return base == "/" ? base + name : base + "/" + name;
}

// Whether the resolved `path` is `root` or lies below it, by whole components: /srv/counter2 is
// not below /srv/counter.
bool lies_within(const std::string& path, const std::string& root) {
    if (root == "/") return true;
    return path.compare(0, root.size(), root) == 0 &&
           (path.size() == root.size() || path[root.size()] == '/');
}

bool inside_roots(const std::string& path, const std::vector<std::string>& roots) {
    const std::string where = destination(path);
    if (where.empty()) return false;
    for (const std::string& root : roots) {
        const std::string resolved_root = real_path(root);
        if (!resolved_root.empty() && lies_within(where, resolved_root)) return true;
    }
    return false;
}

std::string refusal(const LocalPath& path, const char* reason) {
    return std::string("参数 ") + path.argument + reason;
}

}  // namespace

std::string local_path_refusal(const LocalPath& path, const std::vector<std::string>& roots) {
    if (path.path.empty()) return std::string();
    if (!roots.empty() && !inside_roots(path.path, roots)) {
        return refusal(path, " 的路径不在允许的目录内");
    }
    struct stat status {};
    if (path.use == PathUse::Folder) {
        const bool folder = stat(path.path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
        return folder ? std::string() : refusal(path, " 的目录不存在");
    }
    if (stat(path.path.c_str(), &status) == 0) {
        return S_ISREG(status.st_mode) ? std::string() : refusal(path, " 不是普通文件");
    }
    if (path.use == PathUse::Read) return std::string();
    // A link that leads nowhere: writing through it would create a file wherever it points.
    if (lstat(path.path.c_str(), &status) == 0) return refusal(path, " 不是普通文件");
    if (destination(path.path).empty()) return refusal(path, " 的目录不存在");
    return std::string();
}

std::string local_paths_refusal(const std::vector<LocalPath>& paths) {
    const std::vector<std::string> roots = current_server_settings().file_roots;
    for (const LocalPath& path : paths) {
        std::string text = local_path_refusal(path, roots);
        if (!text.empty()) return text;
    }
    return std::string();
}

}  // namespace countermate
