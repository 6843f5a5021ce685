// A 5 MB PDF signed end to end: the page asks for ShowPdfSignOrFingerPoint_Base64 on a document
// on this machine, the service pushes it to the simulated terminal, which signs it, and the
// signed PDF comes back in the reply as Base64, which the page decodes. Reports the wall time of
// the request and the host process's peak resident memory during it, above the peak before it
// (the kernel's high-water mark is reset before each request), beside the document's size: the
// largest growth of the runs, which is the first.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "service_fixture.h"
#include "ws_api.h"

namespace {

constexpr size_t kDocumentBytes = 5 * 1024 * 1024;

// A PDF of 5 MB: a header, a stream of varied bytes and a trailer.
std::string make_document(const std::string& folder) {
    std::string content = "%PDF-1.4\n1 0 obj\n<< /Length 0 >>\nstream\n";
    const size_t body = kDocumentBytes - content.size() - 64;
    for (size_t index = 0; index < body; ++index) content += char(index * 131 + index / 977);
    content += "\nendstream\nendobj\ntrailer\n<< /Size 2 >>\n%%EOF\n";
    content.resize(kDocumentBytes, '\n');
    const std::string path = folder + "/contract.pdf";
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// A line of /proc/PID/status ("VmHWM:", "VmRSS:") in kB, or -1.
long status_kilobytes(pid_t pid, const std::string& key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, key.size(), key) == 0) return std::stol(line.substr(key.size()));
    }
    return -1;
}

// Resets the process's peak resident memory to its current size.
bool reset_peak(pid_t pid) {
    std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
    clear << "5";
    return static_cast<bool>(clear);
}

void BM_SignFiveMegabytePdfAsBase64(benchmark::State& state) {
    countermate::testing::ServiceOnSimulator service;
    if (!service.started()) {
        state.SkipWithError("the service did not start");
        return;
    }
    countermate::testing::TemporaryFolder folder;
    const std::string path = make_document(folder.path());
    auto client = service.connect();
    const pid_t host = service.host_pid();
    const std::string request =
        R"({"method":"ShowPdfSignOrFingerPoint_Base64","args":{"outTimes":30,"signType":1,"fileData":")" +
        path + R"("}})";
    // A small request first, so the service's libraries are loaded; the first signing is then
    // measured like the others (memory it frees may stay with the allocator and serve the next).
    countermate::testing::call_service(*client, R"({"method":"GetDevID","args":{}})");
    double wall_ms = 0;
    long baseline_kb = 0, peak_kb = 0, largest_growth_kb = 0;
    for (auto _ : state) {
        if (!reset_peak(host)) {
            state.SkipWithError("cannot reset the host's peak memory");
            return;
        }
        baseline_kb = status_kilobytes(host, "VmHWM:");
        const auto asked = std::chrono::steady_clock::now();
        const std::string reply = countermate::testing::call_service(*client, request, 120000);
        wall_ms +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked)
                .count();
        peak_kb = status_kilobytes(host, "VmHWM:");
        largest_growth_kb = std::max(largest_growth_kb, peak_kb - baseline_kb);
        const size_t start = reply.find("\"signPdfBase64\":\"");
        const size_t end = start == std::string::npos ? start : reply.find('"', start + 17);
        if (end == std::string::npos) {
            state.SkipWithError(("no signed PDF in the reply: " + reply.substr(0, 200)).c_str());
            return;
        }
        const std::string text = reply.substr(start + 17, end - start - 17);
        std::string decoded(text.size() / 4 * 3 + 3, '\0');
        decoded.resize(
            size_t(ws_base64_decode(text.c_str(), reinterpret_cast<uint8_t*>(&decoded[0]))));
        if (decoded.size() <= kDocumentBytes) state.SkipWithError("the signed PDF is short");
    }
    const double document_mb = double(kDocumentBytes) / (1024 * 1024);
    state.counters["wall_ms"] = wall_ms / double(state.iterations());
    state.counters["host_rss_before_MB"] = double(baseline_kb) / 1024;
    state.counters["host_peak_rss_MB"] = double(peak_kb) / 1024;
    state.counters["host_peak_growth_MB"] = double(largest_growth_kb) / 1024;
    state.counters["growth_per_document"] = double(largest_growth_kb) / 1024 / document_mb;
    state.SetBytesProcessed(int64_t(state.iterations() * kDocumentBytes));
}

BENCHMARK(BM_SignFiveMegabytePdfAsBase64)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
