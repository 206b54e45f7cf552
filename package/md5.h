#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace orvik {

using Md5Digest = std::array<std::uint8_t, 16>;

// MD5 (RFC 1321) of the bytes, from libcrypto.
Md5Digest md5Digest(std::span<const std::uint8_t> bytes);

}  // namespace orvik
