#include "system/detached_process.h"

#include <spawn.h>
#include <unistd.h>

#include <memory>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX declares it nowhere

namespace veldmoor {

bool StartDetachedProcess(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& workingDirectory) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return false;
    }
    const std::unique_ptr<posix_spawn_file_actions_t, int (*)(posix_spawn_file_actions_t*)>
        actionsGuard(&actions, posix_spawn_file_actions_destroy);
    if (!workingDirectory.empty() &&
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str()) != 0) {
        return false;
    }
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) {
        return false;
    }
    const std::unique_ptr<posix_spawnattr_t, int (*)(posix_spawnattr_t*)> attributesGuard(
        &attributes, posix_spawnattr_destroy);
    if (posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID) != 0) {
        return false;
    }

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t child = 0;
    // glibc reports a failed exec (and a failed chdir) as posix_spawn's result.
    return posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ) == 0;
}

}  // namespace veldmoor
