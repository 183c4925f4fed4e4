#include "sync/trace.h"

#include <atomic>
#include <cstdio>

namespace veldmoor {
namespace {

void writeToStandardOutput(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
}

std::atomic<DiagnosticHook> diagnosticHook{&writeToStandardOutput};

}  // namespace

DiagnosticHook setDiagnosticHook(DiagnosticHook hook) {
    return diagnosticHook.exchange(hook != nullptr ? hook : &writeToStandardOutput);
}

void traceDiagnostic(std::string_view line) {
    diagnosticHook.load()(line);
}

}  // namespace veldmoor
