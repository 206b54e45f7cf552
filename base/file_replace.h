#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace orvik {

// Replaces a file's whole content so that it is either the old content or the new one,
// never a mix: the bytes go to a temporary file in the same folder, which is flushed to disk
// and then renamed over the file. On any failure the file stays as it was, the temporary
// file is removed and the result is false. The file keeps its permission bits; a file that
// may not be written to, or that is not a regular file, is left alone with false. A file
// reached through a symbolic link is replaced where the link points.
bool replaceFileContents(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

}  // namespace orvik
