// countermate-reader-sim --link PATH [--card resident|foreign|gat] [--no-card]
//                        [--fault checksum|preamble|silent]
//
// Plays an identity-card reader on a pseudo-terminal reached through the symbolic link PATH
// (for CONFIG.ini's [CARDREADER] SerialPort=PATH), until SIGTERM or SIGINT. Prints
// "PATH -> DEVICE" once it serves. Exit status 2 for a usage error, 1 when it cannot start.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ReaderSimulator.h"

using countermate::sim::CardKind;
using countermate::sim::ReaderFault;
using countermate::sim::ReaderSimulator;

namespace {

int Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s --link PATH [--card resident|foreign|gat] [--no-card] "
                 "[--fault checksum|preamble|silent]\n",
                 program);
    return 2;
}

bool ParseCard(const std::string& name, CardKind& kind) {
    if (name == "resident") kind = CardKind::kResident;
    else if (name == "foreign") kind = CardKind::kForeign;
    else if (name == "gat") kind = CardKind::kHKMoTw;
    else return false;
    return true;
}

bool ParseFault(const std::string& name, ReaderFault& fault) {
    if (name == "checksum") fault = ReaderFault::kChecksum;
    else if (name == "preamble") fault = ReaderFault::kPreamble;
    else if (name == "silent") fault = ReaderFault::kSilent;
    else return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ReaderSimulator::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--no-card") options.card_present = false;
        else if (argument == "--link" && hasValue) options.link_path = argv[++i];
        else if (argument == "--card" && hasValue && ParseCard(argv[i + 1], options.card)) ++i;
        else if (argument == "--fault" && hasValue && ParseFault(argv[i + 1], options.fault)) ++i;
        else return Usage(argv[0]);
    }
    if (options.link_path.empty()) return Usage(argv[0]);

    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGTERM);
    sigaddset(&stopping, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);  // before the serving thread starts

    ReaderSimulator simulator(options);
    if (!simulator.Start()) return 1;
    std::printf("%s -> %s\n", options.link_path.c_str(), simulator.DevicePath().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopping, &received);
    simulator.Stop();
    return 0;
}
