// veldmoor-layering-check RULES ROOT STAMP FOLDER...: checks every .h and .cpp under the
// FOLDERs of the project at ROOT against the allow-lists in RULES (tools/layering/
// layering_rules.h), prints each header a file may not include, and exits with 1 when there is
// one. On success it touches STAMP, so the build runs it again only when a source changed.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/layering/layering_rules.h"

namespace fs = std::filesystem;
using veldmoor::layering::LayeringRules;

namespace {

bool ReadWhole(const fs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && in.is_open();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::cerr << "usage: veldmoor-layering-check RULES ROOT STAMP FOLDER...\n";
        return 2;
    }
    std::string text;
    if (!ReadWhole(argv[1], text)) {
        std::cerr << argv[1] << ": cannot be read\n";
        return 2;
    }
    std::string problem;
    const LayeringRules rules = LayeringRules::Parse(text, problem);
    if (!problem.empty()) {
        std::cerr << argv[1] << ": " << problem << "\n";
        return 2;
    }
    const fs::path root = argv[2];
    std::vector<std::string> files;
    for (int i = 4; i < argc; ++i) {
        std::error_code error;
        for (fs::recursive_directory_iterator it(root / argv[i], error), end; !error && it != end;
             it.increment(error)) {
            const std::string extension = it->path().extension().string();
            if (it->is_regular_file() && (extension == ".h" || extension == ".cpp")) {
                files.push_back(it->path().lexically_relative(root).generic_string());
            }
        }
        if (error) {
            std::cerr << (root / argv[i]).string() << ": " << error.message() << "\n";
            return 2;
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> problems;
    for (const std::string& file : files) {
        if (!ReadWhole(root / file, text)) {
            problems.push_back(file + ": cannot be read");
            continue;
        }
        const std::vector<std::string> found = rules.Check(file, text);
        problems.insert(problems.end(), found.begin(), found.end());
    }
    if (!problems.empty()) {
        for (const std::string& line : problems) {
            std::cerr << line << "\n";
        }
        std::cerr << "Layering broken: move the platform call behind a system/ function, include "
                     "a library's public headers only, or, if the dependency is meant, add the "
                     "header to "
                  << argv[1] << "\n";
        return 1;
    }
    std::ofstream(argv[3]) << files.size() << " files keep the layering\n";
    return 0;
}
