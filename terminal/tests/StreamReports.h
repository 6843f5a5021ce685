// Stream reports as the terminal sends them, each padded to the packet size as a HID device
// sends it, for tables of reports.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "StreamFraming.h"

namespace countermate::terminal::testing {

using StreamReport = std::vector<unsigned char>;

// Frame bytes `from` .. `from` + `count` of a recognisable pattern.
inline std::string FrameBytes(size_t from, size_t count) {
    std::string bytes;
    for (size_t i = from; i < from + count; ++i) bytes += static_cast<char>(i * 7 + i / 251);
    return bytes;
}

inline StreamReport Padded(StreamReport report, int packet_size) {
    report.resize(std::max(report.size(), static_cast<size_t>(packet_size)), 0);
    return report;
}

inline StreamReport FrameStart(uint32_t total, const std::string& bytes, int packet_size) {
    StreamReport report(stream::kFrameStartHeaderBytes);
    report[0] = stream::kMarker;
    report[1] = stream::kFrameStart;
    stream::WriteTotal(report.data(), total);
    report.insert(report.end(), bytes.begin(), bytes.end());
    return Padded(report, packet_size);
}

inline StreamReport Carrying(unsigned char function, const std::string& bytes, int packet_size) {
    StreamReport report{stream::kMarker, function};
    report.insert(report.end(), bytes.begin(), bytes.end());
    return Padded(report, packet_size);
}

inline StreamReport FramePart(const std::string& bytes, int packet_size) {
    return Carrying(stream::kFramePart, bytes, packet_size);
}
inline StreamReport FrameEnd(const std::string& bytes, int packet_size) {
    return Carrying(stream::kFrameEnd, bytes, packet_size);
}
inline StreamReport SigningEnd(unsigned char status, int packet_size) {
    return Padded({stream::kMarker, stream::kSigningEnd, status}, packet_size);
}
// A report answering a control message: the marker, the function, 0.
inline StreamReport ControlAnswer(unsigned char function, int packet_size) {
    return Padded({stream::kMarker, function, 0}, packet_size);
}

// The whole frame `content` as the terminal sends it: the start, full parts, the end with the
// rest.
inline std::vector<StreamReport> FrameOf(const std::string& content, int packet_size) {
    const size_t start_room = static_cast<size_t>(packet_size - stream::kFrameStartHeaderBytes);
    const size_t part_room = static_cast<size_t>(packet_size - stream::kFrameReportHeaderBytes);
    const size_t total = content.size();
    const size_t first = std::min(total, start_room);
    std::vector<StreamReport> reports{
        FrameStart(static_cast<uint32_t>(total), content.substr(0, first), packet_size)};
    size_t sent = first;
    for (; total - sent > part_room; sent += part_room) {
        reports.push_back(FramePart(content.substr(sent, part_room), packet_size));
    }
    reports.push_back(FrameEnd(content.substr(sent), packet_size));
    return reports;
}

inline std::vector<StreamReport> Joined(std::initializer_list<std::vector<StreamReport>> pieces) {
    std::vector<StreamReport> joined;
    for (const auto& piece : pieces) joined.insert(joined.end(), piece.begin(), piece.end());
    return joined;
}

}  // namespace countermate::terminal::testing
