// The readers, writers and checks of the signed root and manifest. The readers accept only the
// form the writers produce, byte for byte: a second way to write the same meaning would let a
// signed file be read differently by another tool.
#include "sync/signed_metadata.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <set>
#include <unordered_map>

#include "sync/ed25519_signature.h"

namespace veldmoor {
namespace {

constexpr std::string_view kRootHeader = "veldmoor-root 1";
constexpr std::string_view kManifestHeader = "veldmoor-manifest 1";
constexpr std::string_view kTrustHeader = "veldmoor-trust 1\n";
constexpr std::string_view kSignaturePrefix = "signature ";

const char* checkName(TrustCheck check) {
    switch (check) {
        case TrustCheck::Malformed:
            return "form";
        case TrustCheck::Signatures:
            return "signatures";
        case TrustCheck::Rollback:
            return "rollback";
        case TrustCheck::Expired:
            return "expiry";
        case TrustCheck::ChainBroken:
            return "root chain";
        case TrustCheck::ListMismatch:
            return "file list against manifest";
        case TrustCheck::ContentMismatch:
            return "file content";
        case TrustCheck::ManifestMissing:
            return "manifest present";
        case TrustCheck::StateUnreadable:
            return "trusted state";
    }
    return "unknown";
}

struct SignatureLine {
    PublicKey key{};
    Ed25519Signature signature{};
};

// A signed file cut into its body (the signed bytes) and its signatures.
struct SignedText {
    std::string_view body;
    std::vector<SignatureLine> signatures;
};

// The lines of a body, each without its "\n", read front to back.
class LineReader {
public:
    LineReader(std::string_view body, std::string source)
        : rest_(body), source_(std::move(source)) {}

    bool atEnd() const { return rest_.empty(); }
    std::string_view peek() const { return rest_.substr(0, rest_.find('\n')); }
    std::string_view next() {
        const std::string_view line = peek();
        rest_.remove_prefix(line.size() + 1);
        ++lineNumber_;
        return line;
    }
    // The value of the next line, which must be "<name> <value>".
    std::string_view field(std::string_view name) {
        const std::string_view line = nextOrMissing(name);
        if (line.size() <= name.size() || !line.starts_with(name) || line[name.size()] != ' ') {
            fail("has '" + std::string(line.substr(0, 40)) + "' where the field '" +
                 std::string(name) + "' belongs");
        }
        return line.substr(name.size() + 1);
    }
    void expectLine(std::string_view exact) {
        if (nextOrMissing(exact) != exact) {
            fail("is not '" + std::string(exact) + "'");
        }
    }
    [[noreturn]] void fail(const std::string& what) const {
        refuseUnverified(TrustCheck::Malformed, source_,
                         source_ + " is not in the canonical form: line " +
                             std::to_string(lineNumber_) + " " + what + ".");
    }

private:
    std::string_view nextOrMissing(std::string_view expected) {
        if (atEnd()) {
            ++lineNumber_;
            fail("is missing: '" + std::string(expected) + "' belongs there");
        }
        return next();
    }

    std::string_view rest_;
    std::string source_;
    std::size_t lineNumber_ = 0;
};

// A decimal number without sign, spaces or leading zeros, no larger than `max`.
template <typename Number>
Number number(LineReader& reader, std::string_view digits, Number max, std::string_view what) {
    std::uint64_t value = 0;
    const char* end = digits.data() + digits.size();
    const bool canonical = !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) {
        return c >= '0' && c <= '9';
    }) && (digits.size() == 1 || digits[0] != '0');
    const auto [stop, error] = canonical ? std::from_chars(digits.data(), end, value)
                                         : std::from_chars_result{digits.data(), std::errc()};
    if (!canonical || error != std::errc() || stop != end ||
        value > static_cast<std::uint64_t>(max)) {
        reader.fail("has '" + std::string(digits.substr(0, 40)) + "' as its " + std::string(what) +
                    ", which is not a plain decimal number in range");
    }
    return static_cast<Number>(value);
}

template <typename Number>
Number numberField(LineReader& reader, std::string_view name, Number min = 0) {
    const Number value =
        number(reader, reader.field(name), std::numeric_limits<Number>::max(), name);
    if (value < min) {
        reader.fail("has the " + std::string(name) + " " + std::to_string(value) +
                    ", below the least allowed " + std::to_string(min));
    }
    return value;
}

template <std::size_t N>
std::array<std::uint8_t, N> hexValue(LineReader& reader, std::string_view text,
                                     std::string_view what) {
    std::array<std::uint8_t, N> bytes{};
    if (!fromHex(text, bytes)) {
        reader.fail("has a " + std::string(what) + " that is not " + std::to_string(2 * N) +
                    " lower-case hex digits");
    }
    return bytes;
}

[[noreturn]] void refuseForm(const std::string& source, const std::string& what) {
    refuseUnverified(TrustCheck::Malformed, source,
                     source + " is not in the canonical form: it " + what + ".");
}

// Cuts the signatures off and checks the whole text's outer form: its size, line ends only
// "\n", no NUL byte, and nothing but signature lines after the first one.
SignedText splitSigned(std::string_view text, std::size_t maxBytes, const std::string& source) {
    if (text.size() > maxBytes) {
        refuseForm(source, "is larger than the bound of " + std::to_string(maxBytes) + " bytes");
    }
    if (text.empty() || text.back() != '\n') {
        refuseForm(source, "does not end with a line end");
    }
    if (const auto bad = text.find_first_of(std::string_view("\r\0", 2));
        bad != std::string_view::npos) {
        const auto line = std::count(text.begin(), text.begin() + bad, '\n') + 1;
        refuseForm(source, "holds a " +
                               std::string(text[bad] == '\r' ? "carriage return" : "NUL byte") +
                               " on line " + std::to_string(line));
    }
    LineReader reader(text, source);
    std::size_t bodyEnd = 0;
    while (!reader.atEnd() && !reader.peek().starts_with(kSignaturePrefix)) {
        bodyEnd += reader.next().size() + 1;
    }
    SignedText result{text.substr(0, bodyEnd), {}};
    while (!reader.atEnd()) {
        const std::string_view value = reader.field("signature");
        const auto space = value.find(' ');
        if (space == std::string_view::npos) {
            reader.fail("is a signature line without its signature");
        }
        result.signatures.push_back({hexValue<32>(reader, value.substr(0, space), "key"),
                                     hexValue<64>(reader, value.substr(space + 1), "signature")});
    }
    return result;
}

std::vector<PublicKey> keyLines(LineReader& reader, std::string_view name) {
    std::vector<PublicKey> keys;
    while (!reader.atEnd() && reader.peek().starts_with(std::string(name) + " ")) {
        const PublicKey key = hexValue<32>(reader, reader.field(name), name);
        if (std::find(keys.begin(), keys.end(), key) != keys.end()) {
            reader.fail("repeats the " + std::string(name) + " " + toHex(key));
        }
        keys.push_back(key);
    }
    if (keys.empty()) {
        reader.fail("is not followed by any " + std::string(name));
    }
    return keys;
}

void checkThreshold(LineReader& reader, std::uint32_t threshold, std::size_t keys,
                    std::string_view name) {
    if (threshold == 0 || threshold > keys) {
        reader.fail("gives the " + std::string(name) + " " + std::to_string(threshold) + " for " +
                    std::to_string(keys) + " keys: it must lie between 1 and the keys");
    }
}

RootDocument parseRootBody(std::string_view body, const std::string& source) {
    LineReader reader(body, source);
    reader.expectLine(kRootHeader);
    RootDocument root;
    root.version = numberField<std::uint64_t>(reader, "version", 1);
    root.expires = numberField<std::int64_t>(reader, "expires");
    root.rootThreshold = numberField<std::uint32_t>(reader, "root-threshold");
    root.rootKeys = keyLines(reader, "root-key");
    checkThreshold(reader, root.rootThreshold, root.rootKeys.size(), "root-threshold");
    root.signingThreshold = numberField<std::uint32_t>(reader, "signing-threshold");
    root.signingKeys = keyLines(reader, "signing-key");
    checkThreshold(reader, root.signingThreshold, root.signingKeys.size(), "signing-threshold");
    if (!reader.atEnd()) {
        reader.next();
        reader.fail("follows the last signing-key but is not a signature");
    }
    return root;
}

Manifest parseManifestBody(std::string_view body, const std::string& source) {
    LineReader reader(body, source);
    reader.expectLine(kManifestHeader);
    Manifest manifest;
    manifest.version = numberField<std::uint64_t>(reader, "version", 1);
    manifest.expires = numberField<std::int64_t>(reader, "expires");
    manifest.rootVersion = numberField<std::uint64_t>(reader, "root-version", 1);
    std::set<std::string_view> paths;
    while (!reader.atEnd()) {
        std::string_view rest = reader.field("file");
        const auto word = [&](std::string_view what) {
            const auto space = rest.find(' ');
            if (space == std::string_view::npos) {
                reader.fail("is a file line that ends before its " + std::string(what));
            }
            const std::string_view value = rest.substr(0, space);
            rest.remove_prefix(space + 1);
            return value;
        };
        ManifestEntry entry;
        entry.size =
            number(reader, word("size"), std::numeric_limits<std::uint64_t>::max(), "size");
        entry.sha256 = hexValue<32>(reader, word("SHA-256"), "SHA-256");
        entry.time = number(reader, word("time"), std::numeric_limits<std::int64_t>::max(), "time");
        if (rest.empty()) {
            reader.fail("is a file line with an empty path");
        }
        if (!paths.insert(rest).second) {
            reader.fail("repeats the path '" + std::string(rest) + "'");
        }
        entry.path = std::string(rest);
        manifest.files.push_back(std::move(entry));
    }
    return manifest;
}

// How many distinct keys of `keys` signed `body` validly. Only the first signature of each key
// is looked at, so that a file cannot make the reader check one key over and over.
std::size_t validSignatures(const SignedText& text, const std::vector<PublicKey>& keys) {
    std::set<PublicKey> seen;
    std::size_t valid = 0;
    for (const SignatureLine& line : text.signatures) {
        if (std::find(keys.begin(), keys.end(), line.key) == keys.end() ||
            !seen.insert(line.key).second) {
            continue;
        }
        if (signatureIsValid(line.key, text.body, line.signature)) {
            ++valid;
        }
    }
    return valid;
}

void requireSignatures(const SignedText& text, const std::vector<PublicKey>& keys,
                       std::uint32_t threshold, const std::string& source,
                       const std::string& role) {
    const std::size_t valid = validSignatures(text, keys);
    if (valid < threshold) {
        refuseUnverified(TrustCheck::Signatures, source,
                         source + " carries valid signatures of " + std::to_string(valid) +
                             " of the " + role + ", but needs " + std::to_string(threshold) + ".");
    }
}

std::string rootSource(std::string_view source) {
    return source.empty() ? std::string("the root file") : std::string(source);
}

void requireNotExpired(std::int64_t expires, std::int64_t now, const std::string& source) {
    if (now >= expires) {
        refuseUnverified(TrustCheck::Expired, source,
                         source + " expired at " + std::to_string(expires) +
                             " (seconds since 1970); it is now " + std::to_string(now) +
                             ": the repository has not been signed again since.");
    }
}

std::string numberLine(std::string_view name, std::uint64_t value) {
    return std::string(name) + " " + std::to_string(value) + "\n";
}

}  // namespace

PatchException unverified(TrustCheck check, std::string detail, std::string message) {
    return {Failure::NotVerified,
            std::move(detail),
            "Not verified (check: " + std::string(checkName(check)) + "): " + std::move(message),
            {{"Check", static_cast<std::uint32_t>(check)}}};
}

void refuseUnverified(TrustCheck check, std::string detail, std::string message) {
    throw unverified(check, std::move(detail), std::move(message));
}

RootDocument parseRoot(std::string_view text, std::string_view source) {
    const std::string name = rootSource(source);
    RootDocument root = parseRootBody(splitSigned(text, kMaxRootBytes, name).body, name);
    root.text = std::string(text);
    return root;
}

Manifest parseManifest(std::string_view text, std::string_view source) {
    const std::string name(source);
    return parseManifestBody(splitSigned(text, kMaxManifestBytes, name).body, name);
}

std::string formatRootBody(const RootDocument& root) {
    std::string body = std::string(kRootHeader) + "\n";
    body += numberLine("version", root.version);
    body += numberLine("expires", static_cast<std::uint64_t>(root.expires));
    body += numberLine("root-threshold", root.rootThreshold);
    for (const PublicKey& key : root.rootKeys) {
        body += "root-key " + toHex(key) + "\n";
    }
    body += numberLine("signing-threshold", root.signingThreshold);
    for (const PublicKey& key : root.signingKeys) {
        body += "signing-key " + toHex(key) + "\n";
    }
    return body;
}

std::string formatManifestBody(const Manifest& manifest) {
    std::string body = std::string(kManifestHeader) + "\n";
    body += numberLine("version", manifest.version);
    body += numberLine("expires", static_cast<std::uint64_t>(manifest.expires));
    body += numberLine("root-version", manifest.rootVersion);
    for (const ManifestEntry& entry : manifest.files) {
        body += "file " + std::to_string(entry.size) + " " + toHex(entry.sha256) + " " +
                std::to_string(entry.time) + " " + entry.path + "\n";
    }
    return body;
}

void verifySelfSignedRoot(const RootDocument& root) {
    const std::string name = rootPathFor(root.version);
    const SignedText text = splitSigned(root.text, kMaxRootBytes, name);
    requireSignatures(text, root.rootKeys, root.rootThreshold, name, "root's own root keys");
}

RootDocument walkRootChain(const RootDocument& trusted, const std::vector<std::string>& newer,
                           std::int64_t now) {
    RootDocument current = trusted;
    for (const std::string& text : newer) {
        const std::uint64_t expected = current.version + 1;
        const std::string name = rootPathFor(expected);
        const SignedText split = splitSigned(text, kMaxRootBytes, name);
        RootDocument next = parseRootBody(split.body, name);
        if (next.version != expected) {
            refuseUnverified(TrustCheck::ChainBroken, name,
                             name + " holds root version " + std::to_string(next.version) +
                                 " where version " + std::to_string(expected) +
                                 " must follow the trusted version " +
                                 std::to_string(current.version) + ".");
        }
        requireSignatures(split, current.rootKeys, current.rootThreshold, name,
                          "root keys of version " + std::to_string(current.version));
        requireSignatures(split, next.rootKeys, next.rootThreshold, name, "its own root keys");
        next.text = text;
        current = std::move(next);
    }
    requireNotExpired(current.expires, now, rootPathFor(current.version));
    return current;
}

Manifest verifyManifest(std::string_view text, const RootDocument& root,
                        std::uint64_t lastTrustedVersion, std::int64_t now) {
    const std::string name = kManifestPath;
    const SignedText split = splitSigned(text, kMaxManifestBytes, name);
    Manifest manifest = parseManifestBody(split.body, name);
    if (manifest.rootVersion != root.version) {
        refuseUnverified(
            manifest.rootVersion < root.version ? TrustCheck::Rollback : TrustCheck::ChainBroken,
            name,
            name + " names root version " + std::to_string(manifest.rootVersion) +
                ", but the newest root of the repository's chain is version " +
                std::to_string(root.version) + ".");
    }
    requireSignatures(split, root.signingKeys, root.signingThreshold, name,
                      "signing keys of root version " + std::to_string(root.version));
    if (manifest.version < lastTrustedVersion) {
        refuseUnverified(TrustCheck::Rollback, name,
                         name + " has version " + std::to_string(manifest.version) +
                             ", older than version " + std::to_string(lastTrustedVersion) +
                             " already trusted for this repository.");
    }
    requireNotExpired(manifest.expires, now, name);
    return manifest;
}

void checkListAgainstManifest(const std::vector<RemoteFile>& list, const Manifest& manifest) {
    std::unordered_map<std::string_view, std::size_t> indexOf;
    indexOf.reserve(manifest.files.size());
    for (std::size_t i = 0; i < manifest.files.size(); ++i) {
        indexOf.emplace(manifest.files[i].path, i);
    }
    std::vector<bool> listed(manifest.files.size(), false);
    for (const RemoteFile& file : list) {
        const auto found = indexOf.find(file.repoPath);
        if (found == indexOf.end()) {
            refuseUnverified(TrustCheck::ListMismatch, file.repoPath,
                             "filelist.php lists '" + file.repoPath + "', which " +
                                 std::string(kManifestPath) + " does not name.");
        }
        const ManifestEntry& entry = manifest.files[found->second];
        if (entry.time != file.time) {
            refuseUnverified(TrustCheck::ListMismatch, file.repoPath,
                             "filelist.php gives '" + file.repoPath + "' the time " +
                                 std::to_string(file.time) + ", " + std::string(kManifestPath) +
                                 " the time " + std::to_string(entry.time) + ".");
        }
        listed[found->second] = true;
    }
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (!listed[i]) {
            refuseUnverified(TrustCheck::ListMismatch, manifest.files[i].path,
                             std::string(kManifestPath) + " names '" + manifest.files[i].path +
                                 "', which filelist.php does not list.");
        }
    }
}

std::string formatTrustState(const TrustState& state) {
    return std::string(kTrustHeader) + numberLine("manifest-version", state.manifestVersion) +
           state.rootText;
}

std::optional<TrustState> parseTrustState(std::string_view text) {
    if (!text.starts_with(kTrustHeader)) {
        return std::nullopt;
    }
    text.remove_prefix(kTrustHeader.size());
    const auto lineEnd = text.find('\n');
    if (lineEnd == std::string_view::npos) {
        return std::nullopt;
    }
    TrustState state;
    try {
        LineReader reader(text.substr(0, lineEnd + 1), "the trusted state");
        state.manifestVersion = numberField<std::uint64_t>(reader, "manifest-version");
        state.rootText = std::string(text.substr(lineEnd + 1));
        parseRoot(state.rootText);
    } catch (const PatchException&) {
        return std::nullopt;
    }
    return state;
}

std::string trustStateFileName(std::string_view repoAddress) {
    // A trailing slash does not make another repository.
    while (repoAddress.ends_with('/')) {
        repoAddress.remove_suffix(1);
    }
    Sha256Hasher hasher;
    hasher.update(repoAddress.data(), repoAddress.size());
    const Sha256Digest digest = hasher.finish();
    return toHex(digest.data(), 16) + ".trust";
}

}  // namespace veldmoor
