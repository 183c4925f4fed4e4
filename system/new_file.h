// A file that one program builds in place of another: created exclusively (never opening what
// is already there, never following a link), written through a stream that can seek, read
// back, given its time and permissions, and then moved over its target in one step. Unless
// moved, it is deleted when the object goes, whatever ended its use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "system/result.h"

namespace veldmoor {

// When MoveOver forces the move itself to the drive.
enum class MoveSync { Now, Later };

// When Close forces the file's bytes to the drive: at once, or together with other files
// (NewFile::ForceTogether), which costs the drive one flush for a batch instead of one a file.
enum class CloseSync { Now, Together };

// Forces the moves into `folder` made with MoveSync::Later to the drive. On Windows every move
// is written through as it is made, and this does nothing.
void SyncMovesInFolder(const std::string& folder);

// A file read by the offset, for NewFile::CopyIn; readers and writers elsewhere may share it.
class ReadOnlyFile {
public:
    // Null when the file cannot be opened for reading.
    static std::unique_ptr<ReadOnlyFile> Open(const std::string& path);
    ~ReadOnlyFile();
    // Its bytes will not be read again, as the file is about to be replaced: the system lets
    // its cached pages go now, on the side, rather than when it is replaced.
    void DropCachedPages();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

private:
    friend class NewFile;
    explicit ReadOnlyFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

class NewFile {
public:
    // Creates `path` for reading and writing. Whatever is already at `path` and is not a folder
    // (a file left by an earlier run that ended abruptly, or a link) is deleted first, never
    // followed: the caller owns that name. A folder in the way is Fault::IsFolder, a full drive
    // Fault::NoSpace; the message is the system's words.
    static Result<std::unique_ptr<NewFile>> Create(const std::string& path);

    // Creates a file of its own beside `target` (in the same folder, so that it can be moved
    // over target in one step): target's name, ".tmp-" and random letters. Nothing already
    // there is opened, followed or deleted; a taken name is passed over for another.
    static Result<std::unique_ptr<NewFile>> CreateBeside(const std::string& target);

    // The name of the target whose CreateBeside file the file name `name` (without its folder)
    // can be; empty when it has no such form. Lets a program find what an abrupt end left.
    static std::string_view TargetOfBesideName(std::string_view name);

    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Sets the file's length to `size` and claims its room on the drive where the file system
    // can, so that a full drive shows before anything is downloaded.
    Status Reserve(std::uint64_t size);

    // Seeks and writes; a failed write sets the stream's badbit and is kept in FirstFailure().
    std::ostream& Stream();

    // Writes out what the stream holds. Fails when any write so far failed.
    Status Flush();

    // Copies up to `length` bytes of `source` from `sourceOffset` to `targetOffset` of this file,
    // by the system's own copy where it has one: the bytes need not pass through this process,
    // and a file system that shares blocks between files copies none. Returns the bytes copied,
    // fewer when the source ends (or cannot be read) first; a failed write is kept as any
    // write's (FirstFailure). The stream is to be sought before it writes again.
    std::uint64_t CopyIn(const ReadOnlyFile& source, std::uint64_t sourceOffset,
                         std::uint64_t targetOffset, std::uint64_t length);

    // Reads the whole file from its start, as it is on the drive, handing each block to
    // `consume`.
    Status ReadBack(const std::function<void(const char*, std::size_t)>& consume);

    // Hands on the bytes read back at `offset`.
    using ReadBackConsumer = std::function<void(std::uint64_t offset, const char*, std::size_t)>;
    // How a file is read back while it is written: from its start on, each stretch once all
    // before it was written (as a hash needs it), or each stretch as it is written (as a CRC-32
    // of its parts, put together after, does).
    enum class ReadOrder { InOrder, AnyOrder };

    // Starts reading the file back while it is still being written, on a thread of its own:
    // what was written (Stream, CopyIn) is read, so that the check of a large file ends soon
    // after its last write rather than begins then. `consume` is called on that thread until
    // FinishReadBack, then on the caller's. A file smaller than kReadBehindMinimum (as Reserve
    // made it) is read only by FinishReadBack, in order.
    void ReadBackWhileWriting(ReadBackConsumer consume, ReadOrder order);

    // Writes out what the stream holds and reads the rest: `consume` has then seen each byte
    // of the file as it is on the drive once, the stretches never written included (the
    // stretches read last in order). A stretch written again after it was read makes the
    // reading start over, after `restart`. Close, MoveOver or the object's end before this stop
    // the reading, unfinished.
    Status FinishReadBack(const std::function<void()>& restart);

    // Sets the file's last-write time (seconds since 1970, UTC).
    Status SetLastWriteTime(std::int64_t secondsSince1970);

    // Gives the file the permission bits of the regular file at `path`, if one is there. Nothing
    // on Windows, where the rights come from the folder.
    void TakePermissionsOf(const std::string& path);

    // Writes out what the stream holds, forces it to the drive and closes the file, which stays
    // under its own name until MoveOver or this object's end: a file finished long before its
    // turn to be moved holds neither a descriptor nor a buffer meanwhile. The stream fails,
    // and ReadBack, SetLastWriteTime and TakePermissionsOf do nothing, afterwards. False when
    // a write so far failed or the file cannot be forced to the drive. With CloseSync::Together
    // the drive is only set to writing the bytes out; ForceTogether (or MoveOver, for this file
    // alone) forces them later.
    Status Close(CloseSync sync = CloseSync::Now);

    // Forces the bytes of the files closed with CloseSync::Together to the drive, all at once
    // (one flush of each drive they lie on, or on Windows the files' flushes issued side by
    // side). A file that cannot be forced notes why (FirstFailure); the others are unaffected.
    static void ForceTogether(const std::vector<NewFile*>& files);

    // Moves the file over `target` in one step (a link at `target` is replaced, not followed),
    // durably: what the stream holds is written out and forced to the drive first (unless
    // ForceTogether did that), and the move
    // itself is forced to the drive after, so that a crash or a power cut leaves at `target`
    // either the old file or the complete new one, never a short or empty one. On failure
    // the file is still owned and deleted with this object. With MoveSync::Later
    // the move itself is not forced to the drive here (the file's bytes still are): a caller
    // that moves many files into few folders forces each folder once, with SyncMovesInFolder.
    // A move lost in a crash leaves the old file, never a short one.
    Status MoveOver(const std::string& target, MoveSync sync = MoveSync::Now);

    // The first failure of a write, reserve, flush to the drive or move; Ok while there is none.
    const Status& FirstFailure() const { return failure_; }
    const std::string& Path() const { return path_; }

private:
    class Buffer;
    class ReadBehind;
    // A file this large is read back behind its writes.
    static constexpr std::uint64_t kReadBehindMinimum = 8U << 20U;
    // Bytes [offset, offset + length) were written.
    void WroteAt(std::uint64_t offset, std::uint64_t length);
    // A name for CreateBeside to try: target's name, ".tmp-" and kBesideLetters random letters.
    static std::string BesideName(const std::string& target);
    static constexpr std::size_t kBesideLetters = 8;
    // handle: a descriptor, or a Windows HANDLE.
    NewFile(std::string path, std::intptr_t handle);
    // Keeps the first failure, as "<what> '<path>': <the system's words>".
    void Note(const Status& systemFailure, const std::string& what);

    std::string path_;
    std::intptr_t handle_ = -1;
    bool moved_ = false;
    bool forced_ = false;  // the bytes are on the drive
    Status failure_;
    std::unique_ptr<Buffer> buffer_;
    std::unique_ptr<std::ostream> stream_;
    bool large_ = false;  // Reserve made it kReadBehindMinimum bytes or more
    // What was written before ReadBackWhileWriting, for a large file: start -> end.
    std::map<std::uint64_t, std::uint64_t> writtenBefore_;
    ReadBackConsumer readBehindConsumer_;
    std::unique_ptr<ReadBehind> readBehind_;  // stopped before the handle is closed
};

}  // namespace veldmoor
