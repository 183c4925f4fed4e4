// veldmoor-sync (or any program) as a child this test can signal, kill at any moment and give
// a file-size limit, with its standard output and error captured in one file.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace veldmoor::test {

class ChildProcess {
public:
    // Starts `program`; `fileSizeLimit` (bytes), when given, is the largest file the child may
    // write (RLIMIT_FSIZE), as a nearly full drive would allow.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& outputPath,
                 std::optional<unsigned long long> fileSizeLimit = std::nullopt);
    ~ChildProcess();  // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Signal(int number) const;
    // Waits for the child to end; false when it is still running at the deadline.
    bool Wait(std::chrono::milliseconds limit);
    bool Running();
    // Exit status, or -1 when the child was ended by a signal.
    int ExitCode() const { return exitCode_; }
    int TermSignal() const { return termSignal_; }

private:
    int pid_ = -1;
    bool ended_ = false;
    int exitCode_ = -1;
    int termSignal_ = 0;
};

}  // namespace veldmoor::test
