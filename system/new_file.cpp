// The parts of NewFile that are the same on every system: the stream over the write buffer and
// closing early. Each system's new_file.cpp does the rest on its own handle.
#include "system/new_file.h"

#include <algorithm>
#include <random>

#include "system/new_file_buffer.h"
#include "system/new_file_read_behind.h"

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

void NewFile::Note(const Status& systemFailure, const std::string& what) {
    if (failure_.Ok()) {
        failure_ = Status::Failed(what + " '" + path_ + "': " + systemFailure.Message(),
                                  systemFailure.Cause());
    }
}

Status NewFile::Flush() {
    if (buffer_) {
        stream_->flush();
        buffer_->WriteOut();  // a failed write is noted in failure_
    }                         // else closed: written out then
    return failure_;
}

Status NewFile::ReadBack(const std::function<void(const char*, std::size_t)>& consume) {
    const auto unreadable = [] { return Status::Failed("it cannot be read back"); };
    if (handle_ == kClosedFile) {
        return unreadable();
    }
    const Result<std::uint64_t> size = SizeOfOpenFile(handle_);
    const std::size_t blockSize = BlockSizeFor(size ? size.Value() : UINT64_MAX);
    const auto block = std::make_unique_for_overwrite<char[]>(blockSize);
    for (std::uint64_t offset = 0;;) {
        const Result<std::size_t> got = ReadAt(handle_, block.get(), blockSize, offset);
        if (!got) {
            return unreadable();
        }
        if (got.Value() == 0) {
            return {};
        }
        consume(block.get(), got.Value());
        offset += got.Value();
    }
}

std::uint64_t NewFile::CopyIn(const ReadOnlyFile& source, std::uint64_t sourceOffset,
                              std::uint64_t targetOffset, std::uint64_t length) {
    if (!buffer_ || !Flush().Ok()) {
        return 0;
    }
    std::uint64_t copied =
        CopyWithinSystem(source.handle_, sourceOffset, handle_, targetOffset, length);
    if (copied < length) {
        const std::size_t blockSize = BlockSizeFor(length - copied);
        const auto block = std::make_unique_for_overwrite<char[]>(blockSize);
        while (copied < length) {
            const Result<std::size_t> got = ReadAt(
                source.handle_, block.get(),
                static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, length - copied)),
                sourceOffset + copied);
            if (!got || got.Value() == 0) {
                break;
            }
            if (const Status written =
                    WriteAllAt(handle_, block.get(), got.Value(), targetOffset + copied);
                !written) {
                Note(written, "cannot write");
                break;
            }
            copied += got.Value();
        }
    }
    buffer_->Written(targetOffset, copied);
    return copied;
}

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::Open(const std::string& path) {
    const std::intptr_t handle = OpenForReading(path);
    return handle == kClosedFile ? nullptr
                                 : std::unique_ptr<ReadOnlyFile>(new ReadOnlyFile(handle));
}

ReadOnlyFile::~ReadOnlyFile() {
    CloseOpenFile(handle_);
}

Status NewFile::Close(CloseSync sync) {
    readBehind_.reset();
    if (handle_ == kClosedFile) {
        if (!forced_ && sync == CloseSync::Now && failure_.Ok()) {
            ForceTogether({this});
        }
        return failure_;
    }
    if (Status flushed = Flush(); !flushed) {
        return flushed;
    }
    if (sync == CloseSync::Now) {
        if (const Status forced = ForceToDrive(handle_); !forced) {
            Note(forced, "cannot force to the drive");
            return failure_;
        }
        forced_ = true;
    } else {
        StartWritingOut(handle_);
    }
    stream_->rdbuf(nullptr);  // later writes fail rather than reach a freed buffer
    buffer_.reset();
    CloseOpenFile(handle_);
    handle_ = kClosedFile;
    return {};
}

void NewFile::ForceTogether(const std::vector<NewFile*>& files) {
    std::vector<NewFile*> waiting;
    std::vector<std::string> paths;
    for (NewFile* file : files) {
        if (file->handle_ == kClosedFile && !file->forced_ && file->failure_.Ok()) {
            waiting.push_back(file);
            paths.push_back(file->path_);
        }
    }
    if (waiting.empty()) {
        return;
    }
    const std::vector<Status> outcomes = ForceClosedFilesToDrive(paths);
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        if (outcomes[i]) {
            waiting[i]->forced_ = true;
        } else {
            waiting[i]->Note(outcomes[i], "cannot force to the drive");
        }
    }
}

}  // namespace veldmoor
