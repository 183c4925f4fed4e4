// The program's command-line arguments as UTF-8 text, like every other text in the program.
// Windows hands a narrow main() its arguments in the ANSI code page, which cannot hold every
// name a player's folders may have; its wide command line can.
#pragma once

#include <string>
#include <vector>

namespace veldmoor {

// All arguments, the program's own name first, in UTF-8. `argc` and `argv` are main()'s; on
// POSIX they are the result, on Windows the fallback when the wide command line is not at hand.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The arguments in main()'s own form, for code written against argc and argv. The pointers stay
// valid as long as this object lives.
class Utf8Arguments {
public:
    Utf8Arguments(int argc, char** argv) : texts_(CommandLineArguments(argc, argv)) {
        for (std::string& text : texts_) {
            pointers_.push_back(text.data());
        }
        pointers_.push_back(nullptr);
    }
    Utf8Arguments(const Utf8Arguments&) = delete;
    Utf8Arguments& operator=(const Utf8Arguments&) = delete;

    int Count() const { return static_cast<int>(texts_.size()); }
    char** Values() { return pointers_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};

}  // namespace veldmoor
