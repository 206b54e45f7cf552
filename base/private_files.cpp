#include "base/private_files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace orvik {
namespace {

constexpr mode_t kOthersAccess = 077;
constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;

void tighten(int fd, mode_t keep) {
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & kOthersAccess)) {
    ::fchmod(fd, info.st_mode & keep);
  }
}

// The name to give chown for this process's user.
std::string userName() {
  const uid_t uid = ::geteuid();
  if (const passwd* entry = ::getpwuid(uid); entry != nullptr && entry->pw_name != nullptr) {
    return entry->pw_name;
  }
  return std::to_string(uid);
}

// Appended piece by piece: g++ 12 at -O3 takes "\"" + text for an overlapping copy.
std::string quoted(const std::filesystem::path& path) {
  std::string text = "\"";
  text += path.string();
  text += '"';
  return text;
}

}  // namespace

bool preparePrivateFolder(const std::filesystem::path& folder, std::string& problem,
                          bool followLink) {
  std::error_code ignored;
  if (folder.has_parent_path()) {
    std::filesystem::create_directories(folder.parent_path(), ignored);
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    problem = "Cannot create the folder " + quoted(folder) + ": " + std::strerror(errno) +
              ". Check that its parent folder exists and may be written, or name another "
              "folder with --data-dir.";
    return false;
  }
  const int fd =
      ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    const int error = errno;
    struct stat link {};
    if (!followLink && ::lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      problem = "The folder " + quoted(folder) +
                " is a symbolic link; the tool writes only into folders of its own. Remove the "
                "link (the tool then makes the folder), or name another folder with --data-dir.";
    } else if (error == ENOTDIR) {
      problem = quoted(folder) +
                " is not a folder. Move it out of the way, or name another folder with "
                "--data-dir.";
    } else {
      problem = "Cannot open the folder " + quoted(folder) + ": " + std::strerror(error) +
                ". Check its permissions, or name another folder with --data-dir.";
    }
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0;
  if (!ok) {
    problem = "Cannot read the folder " + quoted(folder) + ": " + std::strerror(errno) + ".";
  } else if (info.st_uid != ::geteuid()) {
    problem = "The folder " + quoted(folder) + " belongs to another user (uid " +
              std::to_string(info.st_uid) +
              "), who could turn the files the tool writes there against other files; it is not "
              "used. Make it yours (chown -R " +
              userName() + " " + quoted(folder) + "), or name another folder with --data-dir.";
    ok = false;
  } else if ((info.st_mode & kOthersWrite) != 0) {
    problem = "The folder " + quoted(folder) +
              " may be written by other users, who could turn the files the tool writes there "
              "against other files; it is not used. Take their access away (chmod go-w " +
              quoted(folder) + ") and check what it holds, or name another folder with --data-dir.";
    ok = false;
  } else {
    tighten(fd, 0700);
  }
  ::close(fd);
  return ok;
}

bool makePrivateFolder(const std::filesystem::path& folder) {
  std::string ignored;
  return preparePrivateFolder(folder, ignored);
}

int openPrivateFile(const std::filesystem::path& path, int flags) {
  // Not blocking, so that a FIFO at the name cannot hold the tool up before it is refused.
  const int fd = ::open(path.c_str(), flags | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) {
    return -1;
  }
  struct stat info {};
  int refused = 0;
  if (::fstat(fd, &info) != 0) {
    refused = errno;
  } else if (!S_ISREG(info.st_mode)) {
    refused = EINVAL;
  } else if (info.st_uid != ::geteuid()) {
    refused = EPERM;
  }
  if (refused == 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    refused = errno;
  }
  if (refused != 0) {
    ::close(fd);
    errno = refused;
    return -1;
  }
  tighten(fd, 0600);
  return fd;
}

void makeFilePrivate(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd >= 0) {
    tighten(fd, 0600);
    ::close(fd);
  }
}

}  // namespace orvik
