#pragma once

#include <filesystem>

namespace orvik {

// The per-machine folder holds the dealer password, every frame of a trace (contacts
// included) and the owners' personalities: its folders and those files are the user's alone.

// Creates the folder (and what is missing above it) or, when it is the user's already,
// takes the group's and others' access away. False when it cannot be made or is not a folder.
bool makePrivateFolder(const std::filesystem::path& folder);

// Opens the file with the flags, creating it readable and writable by its owner only; an
// existing file of the user's loses the group's and others' access. -1 with errno on failure.
int openPrivateFile(const std::filesystem::path& path, int flags);

// Takes the group's and others' access to an existing file of the user's away.
void makeFilePrivate(const std::filesystem::path& path);

}  // namespace orvik
