// Paths on this machine that a page names in a request: checked before a handler hands one to a
// driver, so that a page can neither make the service read what is not a plain file (a FIFO
// would hold the worker for good, a device or /etc/shadow would be sent to the terminal) nor
// make it replace anything but a plain file, and, when [SERVER] FileRoots is set, neither reach
// outside those folders.
#pragma once

#include <string>
#include <vector>

namespace countermate {

enum class PathUse {
    Read,    // a file the service reads (to send it to a device): when it exists, a regular file
    Write,   // a file the service writes: absent in an existing folder, or a regular file
    Folder,  // a folder the service writes files into: an existing directory
};

// A local path and the request's key that named it, which the refusal text names.
struct LocalPath {
    const char* argument;
    std::string path;
    PathUse use;
};

// Why `path` may not be used, as the text a reply carries, or the empty text when it may be.
//  - An empty path is no path: always allowed (the drivers skip it).
//  - With `roots` (not empty), the path with its symbolic links followed (for a file not yet
//    there: its folder's, plus the name) must lie in one of the roots, themselves resolved, by
//    whole path components: "参数 <argument> 的路径不在允许的目录内". A path whose folder does not
//    resolve is outside.
//  - Read: an existing path must be a regular file: "参数 <argument> 不是普通文件". A missing
//    file is allowed: the driver reports it with its own code (-6), as it always has.
//  - Write: an existing path, a dangling symbolic link included, must be a regular file
//    ("参数 <argument> 不是普通文件"); an absent one needs its folder:
//    "参数 <argument> 的目录不存在".
//  - Folder: the path must be an existing directory: "参数 <argument> 的目录不存在".
// The roots are checked first, so nothing about a file outside them is told.
std::string local_path_refusal(const LocalPath& path, const std::vector<std::string>& roots);

// local_path_refusal for each of `paths` in turn against the FileRoots in force
// (current_server_settings()); the first refusal, or the empty text when every path may be used.
std::string local_paths_refusal(const std::vector<LocalPath>& paths);

}  // namespace countermate
