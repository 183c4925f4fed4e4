// How the operating-system layer, the profile store and the tools say that something failed:
// a Status (done, or why not) or a Result<T> (a value, or why there is none). The message is
// written for a person: it names the file or folder, says what went wrong and, where there is
// something to try, what. Both are [[nodiscard]]: a failure cannot be dropped without a word.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace veldmoor {

// Why something failed, as far as a caller acts differently on it; the rest is in the message.
enum class Fault {
    Other,
    NoSpace,        // the drive is full, a quota is used up, or the file is too large for it
    IsFolder,       // a folder is where a file belongs
    HeldElsewhere,  // another program holds the lock asked for
    Stopped,        // the work stopped because its caller asked it to, not because it failed
};

class [[nodiscard]] Status {
public:
    Status() = default;  // done

    static Status Failed(std::string message, Fault fault = Fault::Other) {
        return Status(fault, std::move(message));
    }

    bool Ok() const { return !failed_; }
    explicit operator bool() const { return Ok(); }
    // Meaningful only when not Ok.
    Fault Cause() const { return fault_; }
    const std::string& Message() const { return message_; }

private:
    Status(Fault fault, std::string message)
        : failed_(true), fault_(fault), message_(std::move(message)) {}

    bool failed_ = false;
    Fault fault_ = Fault::Other;
    std::string message_;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}  // a value converts, as into optional
    // failure must not be Ok.
    Result(Status failure) : failure_(std::move(failure)) {}  // so does a failure

    bool Ok() const { return value_.has_value(); }
    explicit operator bool() const { return Ok(); }

    // Only when Ok.
    T& Value() & { return *value_; }
    const T& Value() const& { return *value_; }
    T&& Value() && { return std::move(*value_); }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

    // Done when Ok; otherwise why not.
    const Status& Error() const { return failure_; }
    Fault Cause() const { return failure_.Cause(); }
    const std::string& Message() const { return failure_.Message(); }

private:
    std::optional<T> value_;
    Status failure_;
};

}  // namespace veldmoor
