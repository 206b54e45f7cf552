#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace orvik {

enum class FileReadResult { Ok, OpenFailed, ReadFailed, TooLarge };

// Reads a whole regular file into the buffer, reusing its storage. Anything that is not a
// regular file (a folder, a pipe) counts as not openable, so a reader never blocks on it. A
// file of more than maxBytes is refused before anything is read: each kind of file has a
// size it cannot exceed, and a huge file must not be taken into memory.
FileReadResult readWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out,
                             std::size_t maxBytes);

// Reads at most maxBytes from the start of a regular file; fewer when the file is shorter.
FileReadResult readFileStart(const std::filesystem::path& path, std::size_t maxBytes,
                             std::vector<std::uint8_t>& out);

}  // namespace orvik
