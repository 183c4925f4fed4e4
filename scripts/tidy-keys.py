#!/usr/bin/python3
"""tidy-keys.py BUILD_DIR FILE...: prints "KEY FILE" for each source file, where KEY is a hash of
everything clang-tidy's verdict on the file depends on: the file as clang's preprocessor sees it
with the build's flags, comments kept for the NOLINT marks (so every project and system header it
reads), the flags themselves,
.clang-tidy and clang-tidy's version. scripts/run-tidy.sh skips a file whose key passed before.
Keys are computed two at a time per core; a file that cannot be preprocessed gets no key and is
always checked."""

import concurrent.futures
import hashlib
import json
import os
import shlex
import subprocess
import sys


def main():
    build, files = sys.argv[1], sys.argv[2:]
    root = os.getcwd()
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as f:
        commands = {os.path.realpath(e["file"]): e for e in json.load(f)}
    common = hashlib.sha256()
    with open(".clang-tidy", "rb") as f:
        common.update(f.read())
    common.update(subprocess.run(["clang-tidy", "--version"], capture_output=True,
                                 check=True).stdout)

    def key(path):
        entry = commands.get(os.path.realpath(path))
        if entry is None:
            return None
        args = shlex.split(entry["command"]) if "command" in entry else entry["arguments"]
        flags, skip = [], False
        for arg in args[1:]:
            if skip:
                skip = False
            elif arg in ("-o", "-c"):
                skip = True
            elif arg != entry["file"]:
                flags.append(arg)
        done = subprocess.run(["clang++", "-E", "-P", "-C", "-Wno-unknown-warning-option", *flags,
                               entry["file"]], cwd=entry["directory"], capture_output=True)
        if done.returncode != 0:
            return None
        digest = common.copy()
        # Without the clone's own folder, so every clone on the machine shares the verdicts.
        digest.update(" ".join(flags).replace(root, ".").encode())
        digest.update(path.encode())
        digest.update(done.stdout)
        return digest.hexdigest()

    with concurrent.futures.ThreadPoolExecutor(max_workers=2 * (os.cpu_count() or 1)) as pool:
        for path, k in zip(files, pool.map(key, files)):
            if k is not None:
                print(k, path)


if __name__ == "__main__":
    sys.exit(main())
