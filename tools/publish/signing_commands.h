// The command line of signing: the keygen and root commands of veldmoor-publish, and the
// --key, --root and --expires options of a publish. main.cpp hands them what is theirs.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "system/result.h"
#include "tools/publish/repository_publisher.h"
#include "tools/publish/signing.h"

namespace veldmoor {

// True when `command` is "keygen" or "root".
bool IsSigningCommand(const std::string& command);
// Runs veldmoor-publish keygen|root ...; argv[1] is the command. Returns the exit code: 0 done,
// 1 failed, 2 wrong use.
int RunSigningCommand(int argc, char** argv);
// The part of --help about signing.
void PrintSigningUsage(std::ostream& out);

class PublishSigningOptions {
public:
    enum class Taken { No, Yes, WrongUse };
    // Takes argv[i] (and its value, advancing i) when it is --key, --root or --expires; on wrong
    // use the reason has been printed.
    Taken take(int argc, char** argv, int& i);
    // False (the reason printed) when only one of --key and --root was given.
    bool complete(std::ostream& errors) const;
    // With --key and --root: checks all before anything is written and has the publish write
    // the signed files.
    Status prepare(PublishOptions& options);
    // What the signing wrote, for the publish's summary; nothing without signing.
    void report(std::ostream& out) const;

private:
    SigningRequest request_;
    bool expiresGiven_ = false;
    std::shared_ptr<RepositorySigner> signer_;
};

}  // namespace veldmoor
