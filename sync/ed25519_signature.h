// The one Ed25519 check the signed metadata needs, kept apart so that the readers of the
// metadata do not include the cryptographic library's headers.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "sync/signed_metadata.h"

namespace veldmoor {

using Ed25519Signature = std::array<std::uint8_t, 64>;

bool signatureIsValid(const PublicKey& key, std::string_view message,
                      const Ed25519Signature& signature);

}  // namespace veldmoor
