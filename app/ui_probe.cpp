#include "app/ui_probe.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "system/folders.h"
#include "system/process_list.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

std::chrono::milliseconds HoldTime() {
    const char* value = std::getenv("VELDMOOR_UI_PROBE_HOLD_MS");
    if (value == nullptr) {
        return std::chrono::milliseconds(0);
    }
    char* end = nullptr;
    const long long milliseconds = std::strtoll(value, &end, 10);
    return std::chrono::milliseconds(end != value && milliseconds > 0 ? milliseconds : 0);
}

}  // namespace

bool RunUiProbeIfRequested(const std::vector<std::string>& arguments,
                           RunningDialogListener* secondStart) {
    const char* reportPath = std::getenv("VELDMOOR_UI_PROBE");
    if (reportPath == nullptr || *reportPath == '\0') {
        return false;
    }
    const std::string report(reportPath);
    // Written aside and renamed, so a reader never sees half a report.
    const std::string partial = report + ".partial";
    {
        std::ofstream out(PathFromUtf8(partial), std::ios::binary | std::ios::trunc);
        out << "pid=" << CurrentProcessId() << '\n' << "cwd=" << CurrentDirectory() << '\n';
        out << "argc=" << arguments.size() << '\n';
        for (const std::string& argument : arguments) {
            out << "arg=" << argument << '\n';
        }
    }
    std::error_code error;
    std::filesystem::rename(PathFromUtf8(partial), PathFromUtf8(report), error);

    const auto deadline = std::chrono::steady_clock::now() + HoldTime();
    while (secondStart != nullptr && std::chrono::steady_clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (secondStart->WaitForKnock(left)) {
            std::ofstream(PathFromUtf8(report), std::ios::binary | std::ios::app) << "raised\n";
        }
    }
    return true;
}

}  // namespace veldmoor
