#include "sync/patch_file.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>
#include <vector>

#include "sync/crc32.h"
#include "sync/early_layout.h"
#include "sync/file_list.h"
#include "sync/http_transfer.h"
#include "sync/range_receiver.h"
#include "sync/resume_data.h"
#include "sync/signed_content.h"
#include "sync/trace.h"
#include "system/file_ops.h"
#include "system/new_file.h"
#include "system/path.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

[[noreturn]] void fail(Failure cause, const std::string& detail, const std::string& message,
                       PatchException::Params params = {}) {
    throw PatchException(cause, detail, message, std::move(params));
}

std::uint32_t targetSizeOf(const BlockPlan& plan) {
    return plan.pieces.empty() ? 0 : plan.pieces.back().targetOffset + plan.pieces.back().length;
}

// The failure of a file operation on the rebuild of `path`: a full drive says so; anything
// else is the temporary file that cannot be written (code 3), the system's words in English.
[[noreturn]] void failFile(const Status& failure, const std::string& path,
                           const std::string& localPath, std::uint32_t size) {
    const std::string temporary = temporaryPathOf(path);
    const std::string& error = failure.Message();
    if (failure.Cause() == Fault::NoSpace) {
        const std::int64_t free = FreeSpaceAt(DirectoryOf(localPath));
        fail(Failure::NoSpace, path,
             "Not enough space on the drive for '" + path + "': it needs " + std::to_string(size) +
                 " bytes" + (free >= 0 ? " (" + std::to_string(free) + " bytes are free)" : "") +
                 "; " + error + ".",
             {{"NeededBytes", size}});
    }
    fail(Failure::TemporaryFileNotOpened, temporary,
         "Couldn't open temporary file '" + temporary + "': " + error + ".");
}

// Blocks copied between two looks at the downloads asked for (1 MiB): their answers are taken
// in while a large file's local blocks are copied, not only after.
constexpr std::uint64_t kBlocksBetweenBreaks = 8;

// Writes the local pieces of the target at their offsets, each from its source: the local copy
// or the resume data of a broken transfer. Pieces that follow one another in the source and in
// the target are copied as one run: an old version with a few changes becomes a handful of
// long copies, which the system makes itself where it can (NewFile::CopyIn). Download pieces
// are left as holes for the range answers to fill. A piece that can no longer be read in full
// (the source changed since it was planned) ends the layout: the checksum tells. A stop asked
// for during the copy of a large file ends it too (false), rather than after gigabytes; so
// does `meanwhile`, called every few blocks, returning true.
bool layOutTarget(const BlockPlan& plan, const ReadOnlyFile* local, const ReadOnlyFile* resume,
                  NewFile& out, const StopRequest& stop, const StopRequest& meanwhile) {
    const std::vector<Piece>& pieces = plan.pieces;
    std::uint64_t copiedBlocks = 0;
    for (std::size_t i = 0; i < pieces.size();) {
        if (pieces[i].kind == kPieceDownload) {
            ++i;
            continue;
        }
        const ReadOnlyFile* source = pieces[i].kind == kPieceResume ? resume : local;
        std::uint64_t runLength = pieces[i].length;
        std::size_t next = i + 1;
        while (next < pieces.size() && pieces[next].kind == pieces[i].kind &&
               pieces[next].targetOffset == pieces[i].targetOffset + runLength &&
               pieces[next].sourceOffset == pieces[i].sourceOffset + runLength) {
            runLength += pieces[next].length;
            ++next;
        }
        for (std::uint64_t done = 0; source != nullptr && done < runLength;) {
            const std::uint64_t n = std::min<std::uint64_t>(runLength - done, kCopyBlockSize);
            const std::uint64_t got = out.CopyIn(*source, pieces[i].sourceOffset + done,
                                                 pieces[i].targetOffset + done, n);
            if (got < n || !out.FirstFailure().Ok()) {
                return true;
            }
            if (stop && stop()) {
                return false;
            }
            done += n;
            if (++copiedBlocks % kBlocksBetweenBreaks == 0 && meanwhile && meanwhile()) {
                return false;
            }
        }
        i = next;
    }
    return true;
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace

RebuildTarget createRebuildTarget(const RemoteFile& file, std::uint32_t size, bool takesCrc,
                                  bool takesSha) {
    const std::string& path = file.repoPath;
    const std::string& localPath = file.localPath;
    const std::string tempPath = temporaryPathOf(localPath);

    ParentFolders folders{.refusal = repoPathRefusal(path)};
    if (folders.ok()) {
        folders = makeParentFolders(tempPath);
    }
    if (!folders.ok()) {
        throw pathRefused(path, folders.refusal, folders.systemError);
    }
    if (KindOf(localPath) == PathKind::Folder) {
        fail(Failure::FolderInPlaceOfFile, path,
             "A folder is where the listed file '" + path + "' belongs.");
    }
    // The installation is locked for the run, so whatever is at the temporary name was left by
    // a run that ended abruptly (or planted): NewFile replaces it and never follows a link.
    Result<std::unique_ptr<NewFile>> created = NewFile::Create(tempPath);
    if (!created) {
        failFile(created.Error(), path, localPath, size);
    }
    RebuildTarget target;
    target.file = std::move(created).Value();
    if (const Status reserved = target.file->Reserve(size); !reserved) {
        failFile(reserved, path, localPath, size);
    }
    target.check = std::make_unique<ReadBackCheck>(takesCrc, takesSha);
    target.check->follow(*target.file);
    return target;
}

FileRebuild::FileRebuild(const PreparedFile& file, const ProgressCallback& progress,
                         RebuildTarget laidOutEarly)
    : file_(file),
      progress_(progress),
      size_(targetSizeOf(file.plan)),
      localLaidOut_(static_cast<bool>(laidOutEarly)) {
    if (!laidOutEarly) {
        laidOutEarly =
            createRebuildTarget(file.file, size_, !file.wholeFile, file.signedContent != nullptr);
    }
    check_ = std::move(laidOutEarly.check);
    temp_ = std::move(laidOutEarly.file);
    if (!file.downloads.empty()) {
        for (const Piece& piece : file.downloads) {
            toDownload_ += piece.length;
        }
        receivers_.push_back(makeReceiver(file.downloads));
    }
}

void FileRebuild::layOut(const StopRequest& stop, const StopRequest& meanwhile) {
    if (file_.hasLocalCopy || !file_.resumePath.empty()) {
        // The local copy's blocks may have been written while it was scanned (EarlyLayout).
        const std::unique_ptr<ReadOnlyFile> local = file_.hasLocalCopy && !localLaidOut_
                                                        ? ReadOnlyFile::Open(file_.file.localPath)
                                                        : nullptr;
        const std::unique_ptr<ReadOnlyFile> resume =
            file_.resumePath.empty() ? nullptr : ReadOnlyFile::Open(file_.resumePath);
        if (!layOutTarget(file_.plan, local.get(), resume.get(), *temp_, stop, meanwhile)) {
            throw SyncCancelled();  // the temporary file goes with this object
        }
        if (local && size_ >= kEarlyLayoutMinimum) {
            // Freeing a large copy's cached pages takes a while, better spent while the
            // downloads and checks end than inside the rename after them.
            local->DropCachedPages();
        }
    }
    laidOut_ = true;
}

std::unique_ptr<RangeReceiver> FileRebuild::makeReceiver(std::vector<Piece> pieces) {
    const std::size_t index = writtenByReceiver_.size();
    writtenByReceiver_.push_back(0);
    const ProgressCallback told = [this, index](const std::string& path, unsigned int written,
                                                unsigned int /*receiverTotal*/) {
        written_ += written - writtenByReceiver_[index];
        writtenByReceiver_[index] = written;
        if (progress_) {
            progress_(path, written_, toDownload_);
        }
    };
    return std::make_unique<RangeReceiver>(temp_->Stream(), std::move(pieces), told,
                                           file_.file.repoPath);
}

std::vector<RangeReceiver*> FileRebuild::spreadDownloads(std::size_t parts,
                                                         std::size_t keepMissing) {
    std::vector<RangeReceiver*> added;
    if (receivers_.size() != 1 || parts < 2 || keepMissing == 0 ||
        receivers_.front()->missingRanges().size() < 2 * keepMissing) {
        return added;
    }
    std::vector<Piece> rest = receivers_.front()->handOffAfter(keepMissing);
    // Whole requests' worth of pieces are dealt out, so that spreading adds no request.
    const std::size_t requests = (rest.size() + keepMissing - 1) / keepMissing;
    const std::size_t groups = std::min(parts - 1, requests);
    for (std::size_t group = 0; group < groups; ++group) {
        const std::size_t from = requests * group / groups * keepMissing;
        const std::size_t to = std::min(requests * (group + 1) / groups * keepMissing, rest.size());
        receivers_.push_back(makeReceiver({rest.begin() + static_cast<std::ptrdiff_t>(from),
                                           rest.begin() + static_cast<std::ptrdiff_t>(to)}));
        added.push_back(receivers_.back().get());
    }
    return added;
}

FileRebuild::~FileRebuild() = default;

bool FileRebuild::keepForResume() noexcept {
    try {
        // A layout cut short has not copied the pieces the record would say are held.
        if (sealed_ || !laidOut_ || receivers_.empty() || !temp_ || !temp_->FirstFailure().Ok()) {
            return false;
        }
        // A file fetched whole has no index CRC-32 to name its version: its signed hash does.
        const std::uint32_t version =
            file_.wholeFile ? resumeTagOf(*file_.signedContent) : file_.plan.expectedCrc;
        ResumeRecord record{file_.file.time, size_, version, {}};
        std::uint64_t heldBytes = 0;
        for (const Piece& piece : file_.plan.pieces) {
            if (piece.kind == kPieceResume) {
                record.held.push_back(piece);
                heldBytes += piece.length;
            }
        }
        for (const auto& receiver : receivers_) {
            for (const Piece& piece : receiver->receivedPieces()) {
                record.held.push_back(piece);
                heldBytes += piece.length;
            }
        }
        if (heldBytes < kResumeMinimumBytes) {
            return false;
        }
        std::sort(record.held.begin(), record.held.end(),
                  [](const Piece& a, const Piece& b) { return a.targetOffset < b.targetOffset; });
        return writeResumeRecord(temp_->Stream(), record) && temp_->Flush().Ok() &&
               temp_->MoveOver(resumePathOf(file_.file.localPath)).Ok();
    } catch (...) {
        return false;  // the next run starts the file over
    }
}

void FileRebuild::failWriting(const Status& failure) const {
    failFile(failure, file_.file.repoPath, file_.file.localPath, size_);
}

void FileRebuild::failTransfer(const PatchException& transferFailure) {
    if (!temp_->FirstFailure().Ok()) {
        failWriting(temp_->FirstFailure());
    }
    throw transferFailure;
}

void FileRebuild::seal(CloseSync sync) {
    if (sealed_) {
        return;
    }
    const std::string& path = file_.file.repoPath;
    if (receivers_.empty() && progress_) {
        progress_(path, 0, 0);
    }
    const std::string& localPath = file_.file.localPath;
    if (const Status read = temp_->FinishReadBack([this] { check_->restart(); }); !read) {
        failWriting(read);
    }
    const std::optional<std::uint32_t> read = check_->crc();
    const std::uint32_t crc = read.value_or(0);
    const bool crcFails = !file_.wholeFile && (!read || crc != file_.plan.expectedCrc);
    const ContentDigest found = check_->digest();
    const bool contentFails =
        file_.signedContent != nullptr && !matchesEntry(found, *file_.signedContent);
    if ((crcFails || contentFails) && !file_.resumePath.empty()) {
        RemoveFile(file_.resumePath);  // or every later run would fail the same way
    }
    // A CRC-32 that fails is a transfer gone wrong, worth another try; a file that passes it
    // and not the manifest was made to pass it.
    if (crcFails) {
        fail(Failure::ChecksumMismatch, path,
             "Checksum check failed after reconstructing file '" + path + "'!",
             {{"FileChecksum", crc}, {"ExpectedChecksum", file_.plan.expectedCrc}});
    }
    if (contentFails) {
        refuseContent(path, found, *file_.signedContent);
    }
    // The time is set on the new file before it takes the old one's place: once there, it is
    // complete, and no path is followed to set it. A time that cannot be set costs the next run
    // a check of the file's content, nothing more.
    if (const Status timed = temp_->SetLastWriteTime(file_.file.time); !timed) {
        trace("%s\n", timed.Message());
    }
    temp_->TakePermissionsOf(localPath);
    if (const Status closed = temp_->Close(sync); !closed) {
        failWriting(closed);
    }
    sealed_ = true;
}

void FileRebuild::forceTogether(const std::vector<FileRebuild*>& rebuilds) {
    std::vector<NewFile*> files;
    for (FileRebuild* rebuild : rebuilds) {
        if (rebuild->sealed_) {
            files.push_back(rebuild->temp_.get());
        }
    }
    NewFile::ForceTogether(files);
}

void FileRebuild::finish(MoveSync sync) {
    const std::string& path = file_.file.repoPath;
    const std::string& localPath = file_.file.localPath;
    seal();
    if (!temp_->FirstFailure().Ok()) {
        failWriting(temp_->FirstFailure());  // its bytes could not be forced
    }
    // One rename replaces the old file, so no failure can leave the player without it.
    if (const Status moved = temp_->MoveOver(localPath, sync); !moved) {
        if (moved.Cause() == Fault::IsFolder || KindOf(localPath) == PathKind::Folder) {
            fail(Failure::FolderInPlaceOfFile, path,
                 "A folder is where the listed file '" + path + "' belongs.");
        }
        fail(Failure::NewFileNotPlaced, path,
             "Temporary file couldn't be moved to '" + path + "': " + moved.Message() + ".");
    }
    if (!file_.resumePath.empty()) {
        RemoveFile(file_.resumePath);
    }
    trace("Patched %s\n", localPath);
}

ParentFolders makeParentFolders(const std::string& path) {
    if (path.empty()) {
        return {.refusal = PathRefusal::Empty};
    }
    // ".." is refused as a component only: "a..b" and "..." are ordinary names.
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = start;
        while (end < path.size() && !isSeparator(path[end])) {
            ++end;
        }
        if (end - start == 2 && path.compare(start, 2, "..") == 0) {
            return {.refusal = PathRefusal::ParentComponent};
        }
        start = end + 1;
    }
    const auto last = path.rfind(kPathSeparator);
    if (last == std::string::npos) {
        return {};
    }
    const std::string folder = path.substr(0, last);
    if (IsDirectory(folder)) {
        return {};  // existing folders pass at once, however deep
    }
    // The levels are counted before any is made, so a path that is too deep leaves nothing.
    std::vector<std::string> prefixes;
    for (std::size_t searchFrom = 1;;) {
        const auto next = folder.find(kPathSeparator, searchFrom);
        std::string prefix = next == std::string::npos ? folder : folder.substr(0, next);
        if (prefix.size() < 3 && !prefix.empty() && prefix.back() == ':') {
            prefix.push_back(kPathSeparator);  // "C:" alone means the drive's current folder
        }
        prefixes.push_back(std::move(prefix));
        if (next == std::string::npos || prefixes.size() > kMaxFolderSteps) {
            break;
        }
        searchFrom = next + 1;
    }
    if (prefixes.size() > kMaxFolderSteps) {
        return {.refusal = PathRefusal::TooDeep};
    }
    for (const std::string& prefix : prefixes) {
        if (IsDirectory(prefix)) {
            continue;  // a link to a folder (a data folder moved to another drive) is used
        }
        trace("Creating dir: %s\n", prefix);
        if (!MakeDirectory(prefix)) {
            return {.refusal =
                        PathExists(prefix) ? PathRefusal::FileInTheWay : PathRefusal::CannotCreate,
                    .systemError = "cannot create '" + prefix + "'"};
        }
    }
    return {};
}

bool ensureParentFolder(const std::string& path) {
    return makeParentFolders(path).ok();
}

PatchException pathRefused(const std::string& repoPath, PathRefusal refusal,
                           const std::string& systemError) {
    // A NUL or another control byte in a listed path would cut or garble the text it is shown in.
    const std::string shown = printablePath(repoPath);
    return PatchException(Failure::FolderNotMade, shown,
                          "Couldn't create directory for '" + shown +
                              "': " + describePathRefusal(refusal) +
                              (systemError.empty() ? "" : " (" + systemError + ")") + ".",
                          {{"Reason", static_cast<std::uint32_t>(refusal)}});
}

std::uint32_t fileCrc32(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in.is_open()) {
        return 0;
    }
    std::vector<char> block(kCopyBlockSize);
    std::uint32_t crc = 0;
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto got = in.gcount();
        if (got <= 0) {
            break;
        }
        crc = crc32Update(crc, block.data(), static_cast<std::size_t>(got));
    }
    return crc;
}

}  // namespace veldmoor
