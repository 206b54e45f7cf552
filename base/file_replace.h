#pragma once

#include <signal.h>

#include <cstdint>
#include <filesystem>
#include <span>

namespace orvik {

// Holds back the signal of a write past the file size limit on this thread, so that the write
// fails with EFBIG and the caller can clean up instead of the process being ended halfway
// through a file. A signal raised meanwhile is taken off before the mask goes back.
class FileSizeSignalBlock {
 public:
  FileSizeSignalBlock();
  ~FileSizeSignalBlock();
  FileSizeSignalBlock(const FileSizeSignalBlock&) = delete;
  FileSizeSignalBlock& operator=(const FileSizeSignalBlock&) = delete;

 private:
  sigset_t set_{};
  sigset_t old_{};
  bool blocked_ = false;
};

// Replaces a file's whole content so that it is either the old content or the new one,
// never a mix: the bytes go to a temporary file in the same folder, which is flushed to disk
// and then renamed over the file. On any failure the file stays as it was, the temporary
// file is removed and the result is false. The file keeps its permission bits; a file that
// may not be written to, or that is not a regular file, is left alone with false. A file
// reached through a symbolic link is replaced where the link points, unless follow says No:
// then a link at the name is left alone with false.
enum class FollowLink { Yes, No };
bool replaceFileContents(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                         FollowLink follow = FollowLink::Yes);

enum class CreateFileResult { Created, Exists, Failed };

// Creates a file with the bytes, never replacing one: the bytes go to a temporary file in the
// same folder, which is flushed to disk and then linked to the name. Exists when the name is
// taken; Failed with the errno value in error for anything else. Either way no temporary file
// stays behind, also when the write runs into the file size limit. The new file is readable
// by its owner only.
CreateFileResult createFileWithContents(const std::filesystem::path& path,
                                        std::span<const std::uint8_t> bytes, int& error);

// Which file a name held when it was written: its device and inode.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

enum class OwnFileWrite {
  New,      // a new file; a name already taken (by a link too) is left alone: Exists
  Replace,  // a new file in place of whatever is at the name; a link there is replaced, not
            // followed
  Rewrite,  // in place of the file identity names, which must still be at the name: NotOurs
            // when a link or another file has taken it
};
enum class OwnFileResult { Written, Exists, NotOurs, Failed };

// Writes a file that the tool owns from its creation on, without ever writing through a link,
// in a folder others may write to as well: the bytes go to a temporary file in the same folder
// (readable by its owner only), which is flushed to disk and then takes the name. Written sets
// identity to the new file; otherwise the name holds what it held and error the errno value.
OwnFileResult writeOwnFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                           OwnFileWrite how, FileIdentity& identity, int& error);

}  // namespace orvik
