// Ed25519 keys and signatures, SHA-256 and the key files: everything of the signed metadata
// that touches the cryptographic library.
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>
#include <cryptopp/xed25519.h>

#include "sync/ed25519_signature.h"
#include "sync/signed_metadata.h"

namespace veldmoor {
namespace {

constexpr std::string_view kPrivateKeyHeader = "veldmoor-ed25519-private ";
constexpr std::string_view kPublicKeyHeader = "veldmoor-ed25519-public ";

// "<header><64 hex>\n" exactly.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> parseKeyLine(std::string_view text,
                                                        std::string_view header) {
    std::array<std::uint8_t, N> key{};
    if (!text.starts_with(header) || !text.ends_with('\n') ||
        !fromHex(text.substr(header.size(), text.size() - header.size() - 1), key)) {
        return std::nullopt;
    }
    return key;
}

Ed25519Signature sign(const PrivateKey& key, std::string_view message) {
    const CryptoPP::ed25519::Signer signer(key.data());
    Ed25519Signature signature{};
    // Ed25519 signatures are deterministic: the generator is never drawn from.
    signer.SignMessage(CryptoPP::NullRNG(), reinterpret_cast<const CryptoPP::byte*>(message.data()),
                       message.size(), signature.data());
    return signature;
}

}  // namespace

std::string toHex(const std::uint8_t* data, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        hex.push_back(kDigits[data[i] >> 4]);
        hex.push_back(kDigits[data[i] & 0xf]);
    }
    return hex;
}

bool signatureIsValid(const PublicKey& key, std::string_view message,
                      const Ed25519Signature& signature) {
    const CryptoPP::ed25519::Verifier verifier(key.data());
    return verifier.VerifyMessage(reinterpret_cast<const CryptoPP::byte*>(message.data()),
                                  message.size(), signature.data(), signature.size());
}

std::string signBody(std::string_view body, const std::vector<PrivateKey>& keys) {
    std::string text(body);
    for (const PrivateKey& key : keys) {
        text += "signature " + toHex(publicKeyOf(key)) + " " + toHex(sign(key, body)) + "\n";
    }
    return text;
}

KeyPair generateKeyPair() {
    CryptoPP::AutoSeededRandomPool random;
    KeyPair pair;
    random.GenerateBlock(pair.privateKey.data(), pair.privateKey.size());
    pair.publicKey = publicKeyOf(pair.privateKey);
    return pair;
}

PublicKey publicKeyOf(const PrivateKey& key) {
    const CryptoPP::ed25519::Signer signer(key.data());
    const auto& privateKey =
        static_cast<const CryptoPP::ed25519PrivateKey&>(signer.GetPrivateKey());
    PublicKey publicKey{};
    std::copy_n(privateKey.GetPublicKeyBytePtr(), publicKey.size(), publicKey.begin());
    return publicKey;
}

std::string formatPrivateKeyFile(const PrivateKey& key) {
    return std::string(kPrivateKeyHeader) + toHex(key) + "\n";
}

std::string formatPublicKeyFile(const PublicKey& key) {
    return std::string(kPublicKeyHeader) + toHex(key) + "\n";
}

std::optional<PrivateKey> parsePrivateKeyFile(std::string_view text) {
    return parseKeyLine<32>(text, kPrivateKeyHeader);
}

std::optional<PublicKey> parsePublicKeyFile(std::string_view text) {
    return parseKeyLine<32>(text, kPublicKeyHeader);
}

struct Sha256Hasher::Impl {
    CryptoPP::SHA256 hash;
};

Sha256Hasher::Sha256Hasher() : impl_(new Impl) {}

Sha256Hasher::~Sha256Hasher() {
    delete impl_;
}

void Sha256Hasher::update(const void* data, std::size_t size) {
    impl_->hash.Update(static_cast<const CryptoPP::byte*>(data), size);
}

Sha256Digest Sha256Hasher::finish() {
    Sha256Digest digest{};
    impl_->hash.Final(digest.data());
    return digest;
}

}  // namespace veldmoor
