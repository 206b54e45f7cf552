#include "link/tty_cable_driver.h"

// termios2 and BOTHER come from the kernel's headers; <termios.h> defines a different
// struct termios and must not be included in this file.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/text.h"

namespace orvik {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

constexpr std::string_view kConverterPrefix = "ttyUSB";
constexpr std::string_view kConverterDriver = "ftdi_sio";
// The USB device that carries the product string sits two folders above the converter's
// port; a few more levels are allowed for other bus layouts.
constexpr int kProductSearchLevels = 4;
// A USB string is at most 126 characters; in UTF-8 with its newline it fits in this.
constexpr std::size_t kMaxProductRead = 512;
// A rate the kernel reports back this far from the asked one was not honoured.
constexpr double kBaudTolerance = 0.03;

// Anything else the system error value may be: the errno with the "application-defined" bit
// set, so it never equals one of the values the listing retries look at.
constexpr std::uint32_t kErrnoErrorBit = 0x20000000;
constexpr std::uint32_t ERROR_SUCCESS = 0;
constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;

bool getLine(int fd, termios2& tio) {
  return ::ioctl(fd, TCGETS2, &tio) == 0;
}
bool setLine(int fd, const termios2& tio) {
  return ::ioctl(fd, TCSETS2, &tio) == 0;
}

// Bytes in, bytes out, nothing interpreted: no line editing, echo, signals or translations.
bool makeRaw(int fd) {
  termios2 tio{};
  if (!getLine(fd, tio)) {
    return false;
  }
  tio.c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return setLine(fd, tio);
}

// The converter then hands over bytes as they arrive instead of batching them; ptys and some
// drivers refuse, which costs only latency.
void requestLowLatency(int fd) {
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
  }
}

enum class Wait { Ready, TimedOut, HungUp };

// Waits until the descriptor is ready for the events or the deadline passes. Past the
// deadline it still looks once, so that a time-out of 0 notices a vanished cable too.
Wait waitUntil(int fd, short events, SteadyClock::time_point deadline) {
  for (;;) {
    const auto remaining =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    const bool expired = remaining <= 0;
    pollfd entry{fd, events, 0};
    const int ready =
        ::poll(&entry, 1, expired ? 0 : static_cast<int>(std::min<long long>(remaining, INT_MAX)));
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Wait::HungUp;
    }
    if ((entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      return Wait::HungUp;
    }
    if (expired) {
      return Wait::TimedOut;
    }
    if (ready > 0) {
      return Wait::Ready;
    }
  }
}

// The time the bytes take on the line: a start bit, eight data bits and a stop bit each.
SteadyClock::duration lineTime(std::uint32_t bytes, std::uint32_t baud) {
  if (baud == 0) {
    return SteadyClock::duration::zero();
  }
  constexpr std::uint64_t kBitsPerByte = 10;
  return std::chrono::microseconds(std::uint64_t{bytes} * kBitsPerByte * 1'000'000 / baud);
}

void pause(SteadyClock::duration duration) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
  timespec time{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
  ::ppoll(nullptr, 0, &time, nullptr);
}

// Waits until the kernel has handed every queued byte to the device, or until the deadline.
// Returns how many bytes were still queued then (0 once drained, or when the kernel cannot
// tell, as with a pty, whose queue always reads empty).
std::uint32_t drainOutput(int fd, std::uint32_t baud, SteadyClock::time_point deadline) {
  // Checked often enough to return soon after the end, rarely enough not to spin.
  constexpr auto kShortestWait = std::chrono::microseconds(500);
  for (;;) {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
      return 0;
    }
    const auto now = SteadyClock::now();
    if (now >= deadline) {
      return static_cast<std::uint32_t>(queued);
    }
    pause(std::clamp<SteadyClock::duration>(lineTime(static_cast<std::uint32_t>(queued), baud),
                                            kShortestWait, deadline - now));
  }
}

std::string readProduct(int fd, int& error) {
  std::string text(kMaxProductRead, '\0');
  ssize_t got;
  do {
    got = ::read(fd, text.data(), text.size());
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    error = errno;
    return {};
  }
  text.resize(static_cast<std::size_t>(got));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  return text;
}

void copyDescription(std::string_view text, CableDescription& description) {
  description.fill('\0');
  const std::size_t length = std::min(text.size(), description.size() - 1);
  std::copy_n(text.data(), length, description.data());
}

// The program that holds the lock on the port, as "name (process N)"; empty when no program
// of this machine holds one that the system lists (another user's exclusive open does not
// show there).
std::string portLockHolder(const std::string& path) {
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0) {
    return {};
  }
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    // "1: FLOCK  ADVISORY  WRITE 4242 00:19:4 0 EOF": the pid, then the file as major:minor
    // (hexadecimal) and inode.
    std::istringstream fields(line);
    std::string number, kind, mode, access, file;
    long pid = 0;
    if (!(fields >> number >> kind >> mode >> access >> pid >> file) || pid <= 0) {
      continue;
    }
    unsigned major = 0, minor = 0;
    unsigned long inode = 0;
    if (std::sscanf(file.c_str(), "%x:%x:%lu", &major, &minor, &inode) != 3 ||
        inode != node.st_ino || major != ::major(node.st_dev) || minor != ::minor(node.st_dev)) {
      continue;
    }
    // The lock stays with the open port when the program that took it has ended (a shell's
    // flock): then the holder is not known.
    std::ifstream commFile("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!std::getline(commFile, name) || name.empty()) {
      return {};
    }
    // A process names itself: only plain characters are shown.
    for (char& c : name) {
      if (c < 0x20 || c > 0x7E) {
        c = '?';
      }
    }
    return (name.empty() ? std::string("a program") : name) + " (process " + std::to_string(pid) +
           ")";
  }
  return {};
}

}  // namespace

struct TtyCableDriver::Port {
  int fd = -1;
  std::int32_t comPort = 0;
  std::uint32_t readTimeoutMs = 0;
  std::uint32_t writeTimeoutMs = 0;
  // The line's rate as the kernel applied it.
  std::uint32_t baud = 0;
  // When the last byte written will have left the line at that rate, as far as the driver
  // can work it out.
  SteadyClock::time_point lineFreeAt{};
};

TtyCableDriver::TtyCableDriver() : TtyCableDriver(Options{}) {}

TtyCableDriver::TtyCableDriver(Options options) : options_(std::move(options)) {}

TtyCableDriver::~TtyCableDriver() {
  for (const auto& port : ports_) {
    ::ioctl(port->fd, TIOCNXCL);
    ::close(port->fd);
  }
}

std::uint32_t TtyCableDriver::systemErrorFor(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EIO:
    case EBUSY:
      return ERROR_GEN_FAILURE;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return ERROR_FILE_NOT_FOUND;
    default:
      return kErrnoErrorBit | static_cast<std::uint32_t>(error);
  }
}

std::string TtyCableDriver::openFailureHintFor(int error, const std::string& path) {
  switch (error) {
    case EACCES:
    case EPERM:
      return formatText(
          "Error:no permission to open [%s]. Add your user to the dialout group (sudo usermod "
          "-aG dialout $USER, then log in again) or install the cable's udev rule "
          "(60-orvik-cable.rules).",
          path.c_str());
    case EBUSY:
    case EWOULDBLOCK:
      if (const std::string holder = portLockHolder(path); !holder.empty()) {
        return formatText("Error:the port [%s] is in use by another program, %s.", path.c_str(),
                          holder.c_str());
      }
      return formatText("Error:the port [%s] is in use by another program.", path.c_str());
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return formatText("Error:the port [%s] does not exist.", path.c_str());
    case ENOTTY:
      return formatText("Error:the port [%s] is not a tty.", path.c_str());
    default:
      return {};
  }
}

int TtyCableDriver::overridePortProblem(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return errno;
  }
  // A regular file or a folder can never carry a radio; a character device may still refuse
  // the line settings when it is opened.
  return S_ISCHR(status.st_mode) ? 0 : ENOTTY;
}

std::string TtyCableDriver::noCableHint() {
  if (options_.overridePath) {
    const int problem = overridePortProblem(*options_.overridePath);
    return problem == 0 ? std::string() : openFailureHintFor(problem, *options_.overridePath);
  }
  return "Error:no programming cable found. Plug in the USB programming cable, or name its "
         "port with --port.";
}

std::string TtyCableDriver::devicePathOf(std::string_view path) {
  // A link such as /dev/serial/by-id/usb-...-if00-port0 stands for the device it points to;
  // its own digits number the converter's interface, not the device.
  std::error_code error;
  const fs::path device = fs::canonical(fs::path(path), error);
  return error ? std::string(path) : device.string();
}

std::int32_t TtyCableDriver::portNumberFromPath(std::string_view path) {
  const std::string device = devicePathOf(path);
  const std::string_view resolved = device;
  const std::size_t slash = resolved.find_last_of('/');
  const std::string_view name =
      slash == std::string_view::npos ? resolved : resolved.substr(slash + 1);
  std::size_t start = name.size();
  while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') {
    --start;
  }
  std::int32_t number = 0;
  const auto parsed = std::from_chars(name.data() + start, name.data() + name.size(), number);
  // No digits, or more than the number can hold.
  return parsed.ec == std::errc{} ? number : 0;
}

std::string TtyCableDriver::comPortDevice(std::int32_t comPort) {
  if (options_.overridePath) {
    return devicePathOf(*options_.overridePath);
  }
  return options_.deviceRoot + "/" + std::string(kConverterPrefix) + std::to_string(comPort);
}

FT_STATUS TtyCableDriver::fail(FT_STATUS status, int error) {
  lastErrno_.store(error);
  return status;
}

std::uint32_t TtyCableDriver::lastError() {
  return systemErrorFor(lastErrno_.load());
}

std::vector<TtyCableDriver::Converter> TtyCableDriver::enumerate() {
  std::vector<Converter> found;
  const fs::path classDir = fs::path(options_.sysfsRoot) / "class" / "tty";
  std::error_code error;
  fs::directory_iterator it(classDir, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with(kConverterPrefix)) {
      continue;
    }
    const std::string_view digits = std::string_view(name).substr(kConverterPrefix.size());
    std::int32_t number = 0;
    const auto [end, parseError] =
        std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || parseError != std::errc{} || end != digits.data() + digits.size()) {
      continue;
    }
    std::error_code linkError;
    const fs::path driver = fs::read_symlink(it->path() / "device" / "driver", linkError);
    if (linkError || driver.filename() != kConverterDriver) {
      continue;
    }
    found.push_back(Converter{name, number});
  }
  std::sort(found.begin(), found.end(),
            [](const Converter& a, const Converter& b) { return a.number < b.number; });
  return found;
}

FT_STATUS TtyCableDriver::listDeviceCount(std::uint32_t& count) {
  if (options_.overridePath) {
    // The one cable is there only while its port is: a port that has gone (the converter
    // unplugged, the simulator ended) or that is not a device must not show as a cable.
    count = overridePortProblem(*options_.overridePath) == 0 ? 1 : 0;
    return FT_OK;
  }
  // Cables come and go: every count looks again.
  std::vector<Converter> found = enumerate();
  std::lock_guard lock(listMutex_);
  converters_ = std::move(found);
  enumerated_ = true;
  count = static_cast<std::uint32_t>(converters_.size());
  return FT_OK;
}

std::optional<TtyCableDriver::Place> TtyCableDriver::listPlace(std::uint32_t index) {
  if (options_.overridePath) {
    if (index != 0) {
      return std::nullopt;
    }
    return Place{*options_.overridePath, {}, {}};
  }
  std::string name;
  {
    std::lock_guard lock(listMutex_);
    if (index >= converters_.size()) {
      return std::nullopt;
    }
    name = converters_[index].name;
  }
  Place place;
  place.device = options_.deviceRoot + "/" + name;
  std::error_code error;
  fs::path folder =
      fs::canonical(fs::path(options_.sysfsRoot) / "class" / "tty" / name / "device", error);
  if (error) {
    return std::nullopt;  // unplugged since the count
  }
  // The serial number is the USB device's, a few folders above the port, as the product is.
  for (int level = 0; level <= kProductSearchLevels && folder.has_parent_path(); ++level) {
    if (fs::exists(folder / "idVendor", error)) {
      const int fd = ::open((folder / "serial").c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0) {
        int readError = 0;
        place.usbSerial = readProduct(fd, readError);
        ::close(fd);
      }
      break;
    }
    folder = folder.parent_path();
  }
  const fs::path byIdFolder = fs::path(options_.deviceRoot) / "serial" / "by-id";
  fs::directory_iterator it(byIdFolder, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    std::error_code linkError;
    const fs::path target = fs::read_symlink(it->path(), linkError);
    if (!linkError && target.filename() == name) {
      place.byId = it->path().filename().string();
      break;
    }
  }
  return place;
}

std::vector<TtyCableDriver::Place> listProgrammingCables(TtyCableDriver& driver) {
  std::vector<TtyCableDriver::Place> cables;
  std::uint32_t count = 0;
  if (driver.listDeviceCount(count) != FT_OK) {
    return cables;
  }
  for (std::uint32_t index = 0; index < count; ++index) {
    CableDescription description{};
    if (driver.listDescription(index, description) != FT_OK) {
      continue;
    }
    description.back() = '\0';
    if (strcasecmp(description.data(), kCableDescription) != 0) {
      continue;
    }
    if (auto place = driver.listPlace(index)) {
      cables.push_back(std::move(*place));
    }
  }
  return cables;
}

FT_STATUS TtyCableDriver::listDescription(std::uint32_t index, CableDescription& description) {
  description.fill('\0');
  if (options_.overridePath) {
    if (index != 0) {
      return fail(FT_DEVICE_NOT_FOUND, ENODEV);
    }
    copyDescription(kCableDescription, description);
    return FT_OK;
  }
  std::string name;
  {
    std::lock_guard lock(listMutex_);
    if (index >= converters_.size()) {
      return fail(FT_DEVICE_NOT_FOUND, ENODEV);
    }
    name = converters_[index].name;
  }
  std::error_code error;
  fs::path folder =
      fs::canonical(fs::path(options_.sysfsRoot) / "class" / "tty" / name / "device", error);
  if (error) {
    return fail(FT_DEVICE_NOT_FOUND, error.value());  // unplugged since the count
  }
  std::error_code rootError;
  const fs::path root = fs::canonical(options_.sysfsRoot, rootError);
  for (int level = 0; level <= kProductSearchLevels; ++level) {
    const int fd = ::open((folder / "product").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      int readError = 0;
      const std::string product = readProduct(fd, readError);
      ::close(fd);
      if (readError != 0) {
        return fail(FT_DEVICE_NOT_OPENED, readError);
      }
      copyDescription(product, description);
      return FT_OK;
    }
    if (errno != ENOENT) {
      // The cable port retries a listing that could not be read, by this error.
      return fail(FT_DEVICE_NOT_OPENED, errno);
    }
    // A USB device without a product string: do not take a hub's for it.
    if (fs::exists(folder / "idVendor", error) || folder == root || !folder.has_parent_path() ||
        folder.parent_path() == folder) {
      break;
    }
    folder = folder.parent_path();
  }
  return FT_OK;  // no description; not a cable
}

TtyCableDriver::Port* TtyCableDriver::find(FT_HANDLE handle) {
  std::lock_guard lock(portMutex_);
  for (const auto& port : ports_) {
    if (port.get() == handle) {
      return port.get();
    }
  }
  return nullptr;
}

FT_STATUS TtyCableDriver::open(int index, FT_HANDLE& handle) {
  handle = nullptr;
  if (options_.overridePath) {
    if (index != 0) {
      std::lock_guard lock(portMutex_);
      openErrno_ = 0;
      return fail(FT_DEVICE_NOT_FOUND, ENODEV);
    }
    return openPath(*options_.overridePath, portNumberFromPath(*options_.overridePath), handle);
  }
  Converter converter;
  {
    std::lock_guard lock(listMutex_);
    if (!enumerated_) {
      converters_ = enumerate();
      enumerated_ = true;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= converters_.size()) {
      std::lock_guard portLock(portMutex_);
      openErrno_ = 0;
      return fail(FT_DEVICE_NOT_FOUND, ENODEV);
    }
    converter = converters_[static_cast<std::size_t>(index)];
  }
  return openPath(options_.deviceRoot + "/" + converter.name, converter.number, handle);
}

FT_STATUS TtyCableDriver::openPath(const std::string& path, std::int32_t comPort,
                                   FT_HANDLE& handle) {
  const auto refuse = [&](int error, int fd) {
    if (fd >= 0) {
      ::close(fd);
    }
    std::lock_guard lock(portMutex_);
    openErrno_ = error;
    openPath_ = path;
    return fail(FT_DEVICE_NOT_OPENED, error);
  };
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return refuse(errno, -1);
  }
  // Two programs on one cable garble both conversations. The lock keeps out every program
  // that asks for it, root included; the exclusive mode keeps out other users' opens.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return refuse(errno == EWOULDBLOCK ? EBUSY : errno, fd);
  }
  if (!makeRaw(fd)) {
    return refuse(errno, fd);  // ENOTTY: not a serial port at all
  }
  if (::ioctl(fd, TIOCEXCL) != 0) {
    return refuse(errno, fd);
  }
  requestLowLatency(fd);

  auto port = std::make_unique<Port>();
  port->fd = fd;
  port->comPort = comPort;
  termios2 line{};
  if (getLine(fd, line)) {
    port->baud = line.c_ospeed;
  }
  std::lock_guard lock(portMutex_);
  handle = port.get();
  ports_.push_back(std::move(port));
  openErrno_ = 0;
  openPath_.clear();
  return FT_OK;
}

std::string TtyCableDriver::openFailureHint() {
  std::lock_guard lock(portMutex_);
  return openFailureHintFor(openErrno_, openPath_);
}

FT_STATUS TtyCableDriver::getComPortNumber(FT_HANDLE handle, std::int32_t& comPort) {
  const Port* port = find(handle);
  if (port == nullptr) {
    return FT_INVALID_HANDLE;
  }
  comPort = port->comPort;
  return FT_OK;
}

FT_STATUS TtyCableDriver::close(FT_HANDLE handle) {
  std::unique_ptr<Port> port;
  {
    std::lock_guard lock(portMutex_);
    const auto it = std::find_if(ports_.begin(), ports_.end(),
                                 [&](const auto& entry) { return entry.get() == handle; });
    if (it == ports_.end()) {
      return FT_INVALID_HANDLE;
    }
    port = std::move(*it);
    ports_.erase(it);
  }
  // The exclusive mode can outlive this descriptor (a pty keeps it while its master is open),
  // which would lock the next open out.
  ::ioctl(port->fd, TIOCNXCL);
  // The descriptor is gone whatever close() says, so the handle is released either way;
  // reporting a failure would leave the caller holding a handle that no longer exists.
  ::close(port->fd);
  return FT_OK;
}

FT_STATUS TtyCableDriver::setBaudRate(FT_HANDLE handle, std::uint32_t baud) {
  Port* port = find(handle);
  if (port == nullptr) {
    return FT_INVALID_HANDLE;
  }
  // Rate 0 would mean "hang up" to the kernel.
  if (baud == 0) {
    return fail(FT_INVALID_BAUD_RATE, EINVAL);
  }
  termios2 tio{};
  if (!getLine(port->fd, tio)) {
    return fail(FT_IO_ERROR, errno);
  }
  // BOTHER takes the rate as a number, so rates without a Bnnn constant (16406) work.
  tio.c_cflag &= ~(CBAUD | CIBAUD);
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = baud;
  tio.c_ospeed = baud;
  if (!setLine(port->fd, tio)) {
    return fail(errno == EINVAL ? FT_INVALID_BAUD_RATE : FT_IO_ERROR, errno);
  }
  // Drivers that cannot reach a rate fall back to another one and say so only in what they
  // report back.
  termios2 applied{};
  if (!getLine(port->fd, applied)) {
    return fail(FT_IO_ERROR, errno);
  }
  port->baud = applied.c_ospeed;
  const double off = (static_cast<double>(applied.c_ospeed) - baud) / baud;
  if (off > kBaudTolerance || off < -kBaudTolerance) {
    return fail(FT_INVALID_BAUD_RATE, EINVAL);
  }
  return FT_OK;
}

FT_STATUS TtyCableDriver::setDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength,
                                                 std::uint8_t stopBits, std::uint8_t parity) {
  const Port* port = find(handle);
  if (port == nullptr) {
    return FT_INVALID_HANDLE;
  }
  const bool known =
      (wordLength == FT_BITS_8 || wordLength == FT_BITS_7) &&
      (stopBits == FT_STOP_BITS_1 || stopBits == FT_STOP_BITS_2) &&
      (parity == FT_PARITY_NONE || parity == FT_PARITY_ODD || parity == FT_PARITY_EVEN);
  if (!known) {
    return fail(FT_INVALID_PARAMETER, EINVAL);
  }
  termios2 tio{};
  if (!getLine(port->fd, tio)) {
    return fail(FT_IO_ERROR, errno);
  }
  tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD);
  tio.c_cflag |= wordLength == FT_BITS_8 ? CS8 : CS7;
  if (stopBits == FT_STOP_BITS_2) {
    tio.c_cflag |= CSTOPB;
  }
  if (parity == FT_PARITY_ODD) {
    tio.c_cflag |= PARENB | PARODD;
  } else if (parity == FT_PARITY_EVEN) {
    tio.c_cflag |= PARENB;
  }
  if (!setLine(port->fd, tio)) {
    return fail(FT_IO_ERROR, errno);
  }
  return FT_OK;
}

FT_STATUS TtyCableDriver::setFlowControl(FT_HANDLE handle, std::uint16_t flow, std::uint8_t xon,
                                         std::uint8_t xoff) {
  const Port* port = find(handle);
  if (port == nullptr) {
    return FT_INVALID_HANDLE;
  }
  if (flow != FT_FLOW_NONE && flow != FT_FLOW_RTS_CTS && flow != FT_FLOW_XON_XOFF) {
    return fail(FT_INVALID_PARAMETER, EINVAL);
  }
  termios2 tio{};
  if (!getLine(port->fd, tio)) {
    return fail(FT_IO_ERROR, errno);
  }
  tio.c_cflag &= ~CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (flow == FT_FLOW_RTS_CTS) {
    tio.c_cflag |= CRTSCTS;
  } else if (flow == FT_FLOW_XON_XOFF) {
    tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VSTART] = xon;
    tio.c_cc[VSTOP] = xoff;
  }
  if (!setLine(port->fd, tio)) {
    return fail(FT_IO_ERROR, errno);
  }
  return FT_OK;
}

FT_STATUS TtyCableDriver::setTimeouts(FT_HANDLE handle, std::uint32_t readMs,
                                      std::uint32_t writeMs) {
  Port* port = find(handle);
  if (port == nullptr) {
    return FT_INVALID_HANDLE;
  }
  port->readTimeoutMs = readMs;
  port->writeTimeoutMs = writeMs;
  return FT_OK;
}

FT_STATUS TtyCableDriver::purge(FT_HANDLE handle, std::uint32_t mask) {
  const Port* port = find(handle);
  if (port == nullptr) {
    return FT_INVALID_HANDLE;
  }
  const bool rx = (mask & FT_PURGE_RX) != 0;
  const bool tx = (mask & FT_PURGE_TX) != 0;
  if (!rx && !tx) {
    return FT_OK;  // names neither queue
  }
  const int queues = rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH);
  if (::ioctl(port->fd, TCFLSH, queues) != 0) {
    return fail(FT_IO_ERROR, errno);
  }
  return FT_OK;
}

// Both transfers wait for the whole count until their time-out, counted for the whole call as
// the converter's own driver does; running out is not a failure, a vanished cable is.
//
// A read's time-out starts once the bytes written before it have left the line: an answer
// cannot begin before its request has reached the radio.
FT_STATUS TtyCableDriver::read(FT_HANDLE handle, std::uint8_t* buffer, std::uint32_t toRead,
                               std::uint32_t& received) {
  received = 0;
  const Port* port = find(handle);
  if (port == nullptr) {
    return FT_INVALID_HANDLE;
  }
  if (toRead == 0) {
    return FT_OK;
  }
  if (buffer == nullptr) {
    return fail(FT_INVALID_PARAMETER, EINVAL);
  }
  const auto deadline = std::max(SteadyClock::now(), port->lineFreeAt) +
                        std::chrono::milliseconds(port->readTimeoutMs);
  while (received < toRead) {
    const ssize_t got = ::read(port->fd, buffer + received, toRead - received);
    if (got > 0) {
      received += static_cast<std::uint32_t>(got);
      continue;
    }
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return fail(FT_IO_ERROR, errno);
    }
    // Nothing there now. With VMIN 0 a tty reads 0 bytes for that, and a hung-up one reads 0
    // bytes for ever; the wait tells the two apart.
    const Wait wait = waitUntil(port->fd, POLLIN, deadline);
    if (wait == Wait::TimedOut) {
      break;
    }
    if (wait == Wait::HungUp) {
      return fail(FT_IO_ERROR, EIO);
    }
  }
  return FT_OK;
}

// The converter's own driver returns from a write once the bytes have left for the line, and
// the protocol's time-outs count on that; the kernel's write() returns once it has queued
// them. So the write also waits for the output queue to drain, within the same time-out.
// Where the kernel cannot tell (a pty reports an empty queue at once), the bytes are taken to
// leave at the line's rate, and the next read's time-out starts after them.
FT_STATUS TtyCableDriver::write(FT_HANDLE handle, const std::uint8_t* buffer, std::uint32_t toWrite,
                                std::uint32_t& written) {
  written = 0;
  Port* port = find(handle);
  if (port == nullptr) {
    return FT_INVALID_HANDLE;
  }
  if (toWrite == 0) {
    return FT_OK;
  }
  if (buffer == nullptr) {
    return fail(FT_INVALID_PARAMETER, EINVAL);
  }
  const auto start = SteadyClock::now();
  const auto deadline = start + std::chrono::milliseconds(port->writeTimeoutMs);
  FT_STATUS status = FT_OK;
  while (written < toWrite) {
    const ssize_t sent = ::write(port->fd, buffer + written, toWrite - written);
    if (sent > 0) {
      written += static_cast<std::uint32_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      status = fail(FT_IO_ERROR, errno);
      break;
    }
    const Wait wait = waitUntil(port->fd, POLLOUT, deadline);
    if (wait == Wait::TimedOut) {
      break;
    }
    if (wait == Wait::HungUp) {
      status = fail(FT_IO_ERROR, EIO);
      break;
    }
  }
  if (status == FT_OK && written > 0) {
    // What has not left by the time-out is dropped, so that the count says what the line
    // carried and a repeated write cannot put the same bytes out twice.
    const std::uint32_t unsent = std::min(drainOutput(port->fd, port->baud, deadline), written);
    if (unsent > 0) {
      ::ioctl(port->fd, TCFLSH, TCOFLUSH);
      written -= unsent;
    }
  }
  port->lineFreeAt = std::max(start, port->lineFreeAt) + lineTime(written, port->baud);
  return status;
}

std::unique_ptr<CableDriver> makeTtyCableDriver(std::optional<std::string> portOverride) {
  TtyCableDriver::Options options;
  if (portOverride && !portOverride->empty()) {
    options.overridePath = std::move(*portOverride);
  } else if (const char* fromEnvironment = std::getenv("ORVIK_PORT");
             fromEnvironment != nullptr && *fromEnvironment != '\0') {
    options.overridePath = fromEnvironment;
  }
  return std::make_unique<TtyCableDriver>(std::move(options));
}

}  // namespace orvik
