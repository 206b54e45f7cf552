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

enum class CreateFileResult { Created, Exists, Failed };

// Creates a file with the bytes, never replacing one: the bytes go to a temporary file in the
// same folder, which is flushed to disk and then linked to the name. Exists when the name is
// taken; Failed with the errno value in error for anything else. Either way no temporary file
// stays behind, also when the write runs into the file size limit. The new file is readable
// by its owner only.
CreateFileResult createFileWithContents(const std::filesystem::path& path,
                                        std::span<const std::uint8_t> bytes, int& error);

}  // namespace orvik
