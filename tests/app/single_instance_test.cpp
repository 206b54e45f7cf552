// The instance lock and the raise request between two starts.
#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>

#include "tests/package/temp_folder.h"

namespace orvik {
namespace {

using State = SingleInstance::State;

// Counts raise requests as the listener thread reports them.
class RaiseCounter {
 public:
  SingleInstance::RaiseHandler handler() {
    return [this] {
      std::lock_guard lock(mutex_);
      ++count_;
      changed_.notify_all();
    };
  }
  // Waits on the listener, not on a fixed time: the deadline only ends a broken run.
  int waitForAtLeast(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return count_ >= count; });
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

// A client that connects to the owner's socket and sends the given bytes.
void sendRaw(const std::filesystem::path& socketPath, const std::string& bytes) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

TEST(SingleInstance, ALaterStartFindsTheLockTakenAndAsksTheOwnerToRaise) {
  testing::TempFolder folder;
  const std::string name = "instance";
  // A crashed owner left its socket file behind; the next owner must still be reachable.
  std::ofstream(folder / "instance.sock") << "stale";

  RaiseCounter raised;
  SingleInstance first;
  ASSERT_EQ(first.acquire(folder.path(), name, raised.handler()), State::Owner);
  EXPECT_TRUE(first.listening());
  EXPECT_EQ(first.lockPath(), folder / "instance.lock");

  SingleInstance second;
  EXPECT_EQ(second.acquire(folder.path(), name, nullptr), State::OtherRunning);
  EXPECT_FALSE(second.listening());

  // Anything but the one request line is ignored. Clients are served in order, so once the
  // last request has been served so has everything before it, and release ends the listener
  // before the count is read.
  sendRaw(first.socketPath(), "HELLO\n");
  sendRaw(first.socketPath(), "RAISE");  // no line end: not a request
  EXPECT_TRUE(second.askOwnerToRaise());
  EXPECT_TRUE(second.askOwnerToRaise());
  raised.waitForAtLeast(2);
  // The owner's exit removes its socket and frees the lock, though the second start still
  // holds its descriptor; nobody listens any more.
  first.release();
  EXPECT_EQ(raised.waitForAtLeast(2), 2);
  EXPECT_FALSE(std::filesystem::exists(folder / "instance.sock"));
  EXPECT_TRUE(std::filesystem::exists(folder / "instance.lock"));
  EXPECT_FALSE(second.askOwnerToRaise());
  SingleInstance third;
  EXPECT_EQ(third.acquire(folder.path(), name, nullptr), State::Owner);
  // The later start that never owned anything leaves the new owner's socket alone.
  second.release();
  EXPECT_TRUE(std::filesystem::exists(folder / "instance.sock"));
}

TEST(SingleInstance, ALockFileThatCannotBeOpenedFails) {
  testing::TempFolder folder;
  std::ofstream(folder / "file") << "not a folder";
  SingleInstance instance;
  EXPECT_EQ(instance.acquire(folder / "file", "instance", nullptr), State::Failed);
  EXPECT_EQ(instance.acquire(std::filesystem::path(), "instance", nullptr), State::Failed);
}

TEST(SingleInstance, OnlyAFolderOfTheUsersOwnClosedToOthersIsPrivate) {
  testing::TempFolder folder;
  std::filesystem::create_directory(folder / "open");
  ::chmod((folder / "open").c_str(), 0777);
  std::filesystem::create_directory(folder / "own");
  ::chmod((folder / "own").c_str(), 0700);
  std::filesystem::create_directory_symlink(folder / "own", folder / "link");
  std::ofstream(folder / "file") << "x";

  EXPECT_TRUE(ensurePrivateFolder(folder / "new"));
  struct stat info {};
  ASSERT_EQ(::lstat((folder / "new").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 077, 0u);
  EXPECT_TRUE(ensurePrivateFolder(folder / "own"));
  EXPECT_FALSE(ensurePrivateFolder(folder / "open"));
  EXPECT_FALSE(ensurePrivateFolder(folder / "link"));
  EXPECT_FALSE(ensurePrivateFolder(folder / "file"));
}

}  // namespace
}  // namespace orvik
