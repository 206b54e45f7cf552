#pragma once

#include <filesystem>
#include <string>

namespace orvik {

// The per-machine folder holds the dealer password, every frame of a trace (contacts
// included) and the owners' personalities: its folders and those files are the user's alone.
// The tool is often run as root: a folder that another user owns or may write to could hold
// links that turn the tool's writes against other files, so such a folder is refused.

// Creates the folder 0700 (and what is missing above it), or checks the one there: it must be
// a folder (not a link to one when followLink is false), the user's, and writable by nobody
// else; then the group's and others' remaining access is taken away. False with a problem for
// the user that names the folder and says how to fix it.
bool preparePrivateFolder(const std::filesystem::path& folder, std::string& problem,
                          bool followLink = false);

// As preparePrivateFolder, with the problem left unsaid.
bool makePrivateFolder(const std::filesystem::path& folder);

// Opens the file with the flags, creating it readable and writable by its owner only; an
// existing file of the user's loses the group's and others' access. A link at the name is not
// followed (ELOOP), and what is opened must be a regular file (else EINVAL) of the user's
// (else EPERM). -1 with errno on failure.
int openPrivateFile(const std::filesystem::path& path, int flags);

// Takes the group's and others' access to an existing file of the user's away.
void makeFilePrivate(const std::filesystem::path& path);

}  // namespace orvik
