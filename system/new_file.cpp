// The parts of NewFile that are the same on every system: the stream over the write buffer and
// closing early. Each system's new_file.cpp does the rest on its own handle.
#include "system/new_file.h"

#include <random>

#include "system/new_file_buffer.h"

namespace veldmoor {
namespace {

constexpr std::string_view kBesideMark = ".tmp-";
constexpr std::string_view kBesideAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";

}  // namespace

std::string NewFile::BesideName(const std::string& target) {
    std::random_device source;
    std::uniform_int_distribution<std::size_t> pick(0, kBesideAlphabet.size() - 1);
    std::string name = target + std::string(kBesideMark);
    for (std::size_t i = 0; i < kBesideLetters; ++i) {
        name.push_back(kBesideAlphabet[pick(source)]);
    }
    return name;
}

std::string_view NewFile::TargetOfBesideName(std::string_view name) {
    const std::size_t tail = kBesideMark.size() + kBesideLetters;
    if (name.size() <= tail || name.substr(name.size() - tail, kBesideMark.size()) != kBesideMark ||
        name.substr(name.size() - kBesideLetters).find_first_not_of(kBesideAlphabet) !=
            std::string_view::npos) {
        return {};
    }
    return name.substr(0, name.size() - tail);
}

std::ostream& NewFile::Stream() {
    return *stream_;
}

bool NewFile::Flush() {
    if (!buffer_) {
        return problem_ == FileProblem::None;  // closed: written out then
    }
    stream_->flush();
    return buffer_->WriteOut() && problem_ == FileProblem::None;
}

bool NewFile::Close(CloseSync sync) {
    if (handle_ == kClosedFile) {
        if (!forced_ && sync == CloseSync::Now && problem_ == FileProblem::None) {
            ForceTogether({this});
        }
        return problem_ == FileProblem::None;
    }
    if (!Flush()) {
        return false;
    }
    if (sync == CloseSync::Now) {
        int error = 0;
        if (!ForceToDrive(handle_, error)) {
            Note(error, "cannot force to the drive");
            return false;
        }
        forced_ = true;
    } else {
        StartWritingOut(handle_);
    }
    stream_->rdbuf(nullptr);  // later writes fail rather than reach a freed buffer
    buffer_.reset();
    CloseOpenFile(handle_);
    handle_ = kClosedFile;
    return true;
}

void NewFile::ForceTogether(const std::vector<NewFile*>& files) {
    std::vector<NewFile*> waiting;
    std::vector<std::string> paths;
    for (NewFile* file : files) {
        if (file->handle_ == kClosedFile && !file->forced_ && file->problem_ == FileProblem::None) {
            waiting.push_back(file);
            paths.push_back(file->path_);
        }
    }
    if (waiting.empty()) {
        return;
    }
    const std::vector<int> errors = ForceClosedFilesToDrive(paths);
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        if (errors[i] == 0) {
            waiting[i]->forced_ = true;
        } else {
            waiting[i]->Note(errors[i], "cannot force to the drive");
        }
    }
}

}  // namespace veldmoor
