// FileBase64Encode of a 20 MB file end to end (request sent, reply received and decoded by the
// page) beside coreutils' `base64` encoding the same file, in the same run.
#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "service_fixture.h"
#include "ws_api.h"

namespace {

constexpr size_t kFileBytes = 20 * 1024 * 1024;

// A 20 MB file of varied bytes in `folder`.
std::string make_file(const std::string& folder) {
    std::string content(kFileBytes, '\0');
    for (size_t index = 0; index < content.size(); ++index)
        content[index] = char(index * 131 + index / 977);
    const std::string path = folder + "/large.bin";
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

void BM_FileBase64EncodeThroughTheService(benchmark::State& state) {
    countermate::testing::ServiceOnSimulator service;
    if (!service.started()) {
        state.SkipWithError("the service did not start");
        return;
    }
    countermate::testing::TemporaryFolder folder;
    const std::string path = make_file(folder.path());
    auto client = service.connect();
    const std::string request = R"({"method":"FileBase64Encode","args":{"filePath":")" + path +
                                R"("}})";
    double receive_ms = 0, decode_ms = 0;
    for (auto _ : state) {
        const auto asked = std::chrono::steady_clock::now();
        const std::string reply = countermate::testing::call_service(*client, request, 60000);
        const auto received = std::chrono::steady_clock::now();
        // What a page then does: take the text out of the reply and decode it.
        const size_t start = reply.find("\"fileBase64\":\"");
        const size_t end = start == std::string::npos ? start : reply.find('"', start + 14);
        if (end == std::string::npos) {
            state.SkipWithError("no reply");
            return;
        }
        const std::string text = reply.substr(start + 14, end - start - 14);
        std::string decoded(text.size() / 4 * 3 + 3, '\0');
        decoded.resize(
            size_t(ws_base64_decode(text.c_str(), reinterpret_cast<uint8_t*>(&decoded[0]))));
        if (decoded.size() != kFileBytes) state.SkipWithError("the decoded file differs in size");
        receive_ms += std::chrono::duration<double, std::milli>(received - asked).count();
        decode_ms +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - received)
                .count();
    }
    state.counters["reply_ms"] = receive_ms / double(state.iterations());
    state.counters["page_decode_ms"] = decode_ms / double(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations() * kFileBytes));
}

void BM_CoreutilsBase64(benchmark::State& state) {
    countermate::testing::TemporaryFolder folder;
    const std::string path = make_file(folder.path());
    const std::string command = "base64 -w0 '" + path + "' > '" + folder.path() + "/large.b64'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("base64 failed");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations() * kFileBytes));
}

BENCHMARK(BM_FileBase64EncodeThroughTheService)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoreutilsBase64)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
