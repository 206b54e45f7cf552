#include "link/tty_cable_driver.h"

// termios2 to read the line back through the pty master; <termios.h> must stay out.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/usb_serial.h"
#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

// How a busy port's message ends when this test program holds the port's lock.
std::string heldByThisProgram() {
  std::ifstream commFile("/proc/self/comm");
  std::string name;
  std::getline(commFile, name);
  return ", " + name + " (process " + std::to_string(::getpid()) + ").";
}

namespace fs = std::filesystem;
using testing::errorLines;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

// How long a test waits for bytes it expects; they normally arrive within microseconds.
constexpr std::uint32_t kPatienceMs = 2000;

Bytes allByteValues() {
  Bytes bytes(256);
  for (int i = 0; i < 256; ++i) {
    bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  }
  return bytes;
}

TtyCableDriver::Options overridePath(const std::string& path) {
  TtyCableDriver::Options options;
  options.overridePath = path;
  return options;
}

// A temp folder with a sysfs-shaped tree: class/tty entries that link to converter ports
// below USB devices, each port linking to its driver.
class FakeSysfs {
 public:
  FakeSysfs() {
    std::string pattern = (fs::temp_directory_path() / "orvik-sysfs-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    fs::create_directories(sys() / "class" / "tty");
    fs::create_directories(dev());
    // The bus above every device has a product of its own, which is never a converter's.
    write(sys() / "devices" / "usb1" / "product", "xHCI Host Controller\n");
  }
  ~FakeSysfs() { fs::remove_all(root_); }

  fs::path sys() const { return root_ / "sys"; }
  fs::path dev() const { return root_ / "dev"; }
  TtyCableDriver::Options options() const {
    TtyCableDriver::Options options;
    options.sysfsRoot = sys().string();
    options.deviceRoot = dev().string();
    return options;
  }

  // A converter port bound to the driver (none when empty) on a USB device with the product
  // string (none: the device has only its vendor id).
  void add(const std::string& name, const std::string& driver,
           const std::optional<std::string>& product,
           const std::optional<std::string>& usbSerial = std::nullopt) {
    const std::string usbDevice = "1-" + std::to_string(++devices_);
    const fs::path device = sys() / "devices" / "usb1" / usbDevice;
    const fs::path port = device / (usbDevice + ":1.0") / name;
    const fs::path tty = port / "tty" / name;
    fs::create_directories(tty);
    fs::create_symlink(port, tty / "device");
    fs::create_symlink(tty, sys() / "class" / "tty" / name);
    if (!driver.empty()) {
      const fs::path driverDir = sys() / "bus" / "usb-serial" / "drivers" / driver;
      fs::create_directories(driverDir);
      fs::create_symlink(driverDir, port / "driver");
    }
    write(device / "idVendor", "0403\n");
    if (product) {
      write(device / "product", *product);
    }
    if (usbSerial) {
      write(device / "serial", *usbSerial);
    }
  }
  // The link udev makes in /dev/serial/by-id.
  void addById(const std::string& link, const std::string& name) {
    fs::create_directories(dev() / "serial" / "by-id");
    fs::create_symlink("../../" + name, dev() / "serial" / "by-id" / link);
  }
  void unplug(const std::string& name) { fs::remove(sys() / "class" / "tty" / name); }

 private:
  static void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }

  fs::path root_;
  int devices_ = 0;
};

// A pseudo-terminal whose master the test holds; the driver opens its slave as the cable.
class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(master_, 0) << std::strerror(errno);
    EXPECT_EQ(::grantpt(master_), 0);
    EXPECT_EQ(::unlockpt(master_), 0);
    char name[128] = {};
    EXPECT_EQ(::ptsname_r(master_, name, sizeof name), 0);
    slavePath = name;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~Pty() { closeMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  void send(const Bytes& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the slave wrote, waiting until count bytes have come.
  Bytes receive(std::size_t count) {
    Bytes bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd entry{master_, POLLIN, 0};
      if (::poll(&entry, 1, 50) <= 0) {
        continue;
      }
      std::uint8_t chunk[512];
      const ssize_t got = ::read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
      if (got > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
      }
    }
    return bytes;
  }
  // The slave's line settings: a pty master reads its slave's.
  termios2 line() const {
    termios2 tio{};
    EXPECT_EQ(::ioctl(master_, TCGETS2, &tio), 0);
    return tio;
  }
  int number() const { return std::stoi(slavePath.substr(slavePath.rfind('/') + 1)); }
  void closeMaster() {
    if (master_ >= 0) {
      ::close(master_);
      master_ = -1;
    }
  }

  std::string slavePath;

 private:
  int master_ = -1;
};

// --- Listing and opening by index --------------------------------------------------------

std::string descriptionAt(TtyCableDriver& driver, std::uint32_t index) {
  CableDescription description;
  description.fill('x');
  EXPECT_EQ(driver.listDescription(index, description), FT_OK);
  EXPECT_EQ(description.back(), '\0');
  return description.data();
}

TEST(TtyCableDriverListing, FindsFtdiConvertersInNumericOrderWithTheirProduct) {
  FakeSysfs sysfs;
  sysfs.add("ttyUSB10", "ftdi_sio", "VL CPS Cable\n");
  sysfs.add("ttyUSB2", "ftdi_sio", "FT232R USB UART\n");
  sysfs.add("ttyUSB3", "cp210x", "VL CPS Cable\n");
  sysfs.add("ttyUSB4", "", "VL CPS Cable\n");
  sysfs.add("ttyS0", "ftdi_sio", "VL CPS Cable\n");
  sysfs.add("ttyUSBx", "ftdi_sio", "VL CPS Cable\n");
  sysfs.add("ttyUSB1", "ftdi_sio", std::string(80, 'L') + "\n");
  sysfs.add("ttyUSB7", "ftdi_sio", std::nullopt);
  TtyCableDriver driver(sysfs.options());

  std::uint32_t count = 0;
  ASSERT_EQ(driver.listDeviceCount(count), FT_OK);
  ASSERT_EQ(count, 4u);
  EXPECT_EQ(descriptionAt(driver, 0), std::string(63, 'L'));
  EXPECT_EQ(descriptionAt(driver, 1), "FT232R USB UART");
  // A device without a product string reads as empty, not as the bus above it.
  EXPECT_EQ(descriptionAt(driver, 2), "");
  EXPECT_EQ(descriptionAt(driver, 3), "VL CPS Cable");
  CableDescription description{};
  EXPECT_EQ(driver.listDescription(4, description), FT_DEVICE_NOT_FOUND);
}

// The update station tells its cables apart by what stays with a cable on any USB port: the
// converter's serial number, else its by-id name, else the device.
TEST(TtyCableDriverListing, ProgrammingCablesWithWhereTheyAre) {
  FakeSysfs sysfs;
  sysfs.add("ttyUSB0", "ftdi_sio", "VL CPS Cable\n", "FT4QX2B7\n");
  sysfs.add("ttyUSB1", "ftdi_sio", "FT232R USB UART\n", "A10KZ9");
  sysfs.add("ttyUSB2", "ftdi_sio", "vl cps cable\n");
  sysfs.add("ttyUSB3", "ftdi_sio", "VL CPS Cable\n");
  sysfs.addById("usb-FTDI_VL_CPS_Cable-if00-port0", "ttyUSB2");
  sysfs.addById("usb-FTDI_FT232R_USB_UART_A10KZ9-if00-port0", "ttyUSB1");
  TtyCableDriver driver(sysfs.options());

  const std::vector<TtyCableDriver::Place> cables = listProgrammingCables(driver);
  ASSERT_EQ(cables.size(), 3u);
  const std::string dev = sysfs.dev().string();
  EXPECT_EQ(cables[0].device, dev + "/ttyUSB0");
  EXPECT_EQ(cables[0].usbSerial, "FT4QX2B7");
  EXPECT_EQ(cables[0].byId, "");
  EXPECT_EQ(cables[1].device, dev + "/ttyUSB2");
  EXPECT_EQ(cables[1].usbSerial, "");
  EXPECT_EQ(cables[1].byId, "usb-FTDI_VL_CPS_Cable-if00-port0");
  EXPECT_EQ(cables[2].device, dev + "/ttyUSB3");
  EXPECT_EQ(cables[2].byId, "");

  // A cable pulled out after the count has no place.
  sysfs.unplug("ttyUSB3");
  EXPECT_FALSE(driver.listPlace(3));
  EXPECT_FALSE(driver.listPlace(7));
}

TEST(TtyCableDriverListing, EveryCountLooksAgain) {
  FakeSysfs sysfs;
  TtyCableDriver driver(sysfs.options());
  std::uint32_t count = 9;
  ASSERT_EQ(driver.listDeviceCount(count), FT_OK);
  EXPECT_EQ(count, 0u);

  sysfs.add("ttyUSB0", "ftdi_sio", "First\n");
  sysfs.add("ttyUSB1", "ftdi_sio", "Second\n");
  ASSERT_EQ(driver.listDeviceCount(count), FT_OK);
  EXPECT_EQ(count, 2u);

  sysfs.unplug("ttyUSB0");
  // The description follows the listing it belongs to until the next count.
  CableDescription description{};
  EXPECT_EQ(driver.listDescription(0, description), FT_DEVICE_NOT_FOUND);
  ASSERT_EQ(driver.listDeviceCount(count), FT_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(descriptionAt(driver, 0), "Second");
}

TEST(TtyCableDriverListing, OpensTheListedNodeAndReportsItsNumber) {
  FakeSysfs sysfs;
  Pty pty;
  sysfs.add("ttyUSB3", "ftdi_sio", "VL CPS Cable\n");
  sysfs.add("ttyUSB12", "ftdi_sio", "VL CPS Cable\n");
  fs::create_symlink(pty.slavePath, sysfs.dev() / "ttyUSB12");
  TtyCableDriver driver(sysfs.options());
  std::uint32_t count = 0;
  ASSERT_EQ(driver.listDeviceCount(count), FT_OK);
  ASSERT_EQ(count, 2u);

  FT_HANDLE handle = nullptr;
  ASSERT_EQ(driver.open(1, handle), FT_OK);
  std::int32_t comPort = -1;
  EXPECT_EQ(driver.getComPortNumber(handle, comPort), FT_OK);
  EXPECT_EQ(comPort, 12);
  EXPECT_EQ(driver.openFailureHint(), "");
  EXPECT_EQ(driver.close(handle), FT_OK);

  // Listed, but its node is gone.
  FT_HANDLE missing = nullptr;
  EXPECT_EQ(driver.open(0, missing), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(missing, nullptr);
  EXPECT_EQ(driver.openFailureHint(),
            "Error:the port [" + (sysfs.dev() / "ttyUSB3").string() + "] does not exist.");
  EXPECT_NE(driver.lastError(), ERROR_ACCESS_DENIED);
  EXPECT_NE(driver.lastError(), ERROR_GEN_FAILURE);

  EXPECT_EQ(driver.open(2, missing), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(driver.open(-1, missing), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(driver.openFailureHint(), "");
}

// --- Hints, error values, port numbers -----------------------------------------------------

TEST(TtyCableDriverErrors, OpenFailureHintsByErrno) {
  const std::string path = "/dev/ttyUSB0";
  const std::string denied =
      "Error:no permission to open [/dev/ttyUSB0]. Add your user to the dialout group (sudo "
      "usermod -aG dialout $USER, then log in again) or install the cable's udev rule "
      "(60-orvik-cable.rules).";
  const std::string busy = "Error:the port [/dev/ttyUSB0] is in use by another program.";
  const std::string missing = "Error:the port [/dev/ttyUSB0] does not exist.";
  const std::string notTty = "Error:the port [/dev/ttyUSB0] is not a tty.";
  const std::vector<std::pair<int, std::string>> cases = {
      {EACCES, denied},  {EPERM, denied},  {EBUSY, busy},    {EWOULDBLOCK, busy}, {ENOENT, missing},
      {ENODEV, missing}, {ENXIO, missing}, {ENOTTY, notTty}, {EINVAL, ""},        {0, ""},
  };
  for (const auto& [error, hint] : cases) {
    EXPECT_EQ(TtyCableDriver::openFailureHintFor(error, path), hint) << std::strerror(error);
  }
}

// A port whose lock a running program holds is said to be in use by that program.
TEST(TtyCableDriverErrors, ABusyPortNamesTheProgramThatHoldsItsLock) {
  std::string pattern = (fs::temp_directory_path() / "orvik-lock-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const std::string port = (fs::path(pattern) / "port").string();
  std::ofstream(port).flush();
  const int fd = ::open(port.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_EQ(TtyCableDriver::openFailureHintFor(EBUSY, port),
            "Error:the port [" + port + "] is in use by another program" + heldByThisProgram());
  ::close(fd);
  EXPECT_EQ(TtyCableDriver::openFailureHintFor(EBUSY, port),
            "Error:the port [" + port + "] is in use by another program.");
  fs::remove_all(pattern);
}

TEST(TtyCableDriverErrors, SystemErrorValuesTheListingRetriesLookAt) {
  EXPECT_EQ(TtyCableDriver::systemErrorFor(EACCES), ERROR_ACCESS_DENIED);
  EXPECT_EQ(TtyCableDriver::systemErrorFor(EPERM), ERROR_ACCESS_DENIED);
  EXPECT_EQ(TtyCableDriver::systemErrorFor(EIO), ERROR_GEN_FAILURE);
  EXPECT_EQ(TtyCableDriver::systemErrorFor(EBUSY), ERROR_GEN_FAILURE);
  for (int error : {0, ENOENT, ENODEV, ENXIO, EINVAL, ENOTTY, EAGAIN}) {
    EXPECT_NE(TtyCableDriver::systemErrorFor(error), ERROR_ACCESS_DENIED) << error;
    EXPECT_NE(TtyCableDriver::systemErrorFor(error), ERROR_GEN_FAILURE) << error;
  }
}

TEST(TtyCableDriverErrors, PortNumberIsTheTrailingDigitsOfTheFileName) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"/dev/pts/7", 7}, {"/dev/ttyACM0", 0},  {"/dev/ttyUSB12", 12},      {"/tmp/radio", 0},
      {"/dev/pts/", 0},  {"COM3", 3},          {"/dev/tty99999999999", 0}, {"/dev/7/tty", 0},
      {"/dev/tty2a", 0}, {"/dev/ttyS042", 42},
  };
  for (const auto& [path, number] : cases) {
    EXPECT_EQ(TtyCableDriver::portNumberFromPath(path), number) << path;
  }
}

// A link names the device it points to: the digits of a by-id name number the converter's
// interface, and taking them would hand the keypad boot-loader another device.
TEST(TtyCableDriverErrors, PortNumberIsTheNumberOfTheDeviceALinkPointsTo) {
  FakeSysfs tree;
  const fs::path dev = tree.dev();
  fs::create_directories(dev / "serial" / "by-id");
  fs::create_directories(dev / "pts");
  std::ofstream(dev / "ttyUSB3") << "";
  std::ofstream(dev / "pts" / "12") << "";
  fs::create_symlink("../../ttyUSB3", dev / "serial" / "by-id" / "usb-VL_CPS_Cable_A1-if00-port0");
  fs::create_symlink(dev / "serial" / "by-id" / "usb-VL_CPS_Cable_A1-if00-port0", dev / "radio0");
  fs::create_symlink("pts/12", dev / "sim-radio7");
  const struct {
    fs::path path;
    std::int32_t number;
    fs::path device;
  } cases[] = {
      {dev / "serial" / "by-id" / "usb-VL_CPS_Cable_A1-if00-port0", 3, dev / "ttyUSB3"},
      {dev / "radio0", 3, dev / "ttyUSB3"},  // a link to a link
      {dev / "sim-radio7", 12, dev / "pts" / "12"},
      {dev / "ttyUSB3", 3, dev / "ttyUSB3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    EXPECT_EQ(TtyCableDriver::portNumberFromPath(c.path.string()), c.number);
    TtyCableDriver driver{overridePath(c.path.string())};
    EXPECT_EQ(fs::path(driver.comPortDevice(c.number)), fs::canonical(c.device));
  }
  // Without an override a number is the converter of that number.
  TtyCableDriver listed{tree.options()};
  EXPECT_EQ(listed.comPortDevice(5), (dev / "ttyUSB5").string());
}

// --- A real pseudo-terminal -----------------------------------------------------------------

class TtyCableDriverOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(driver.open(0, handle), FT_OK);
    ASSERT_NE(handle, nullptr);
  }
  void TearDown() override {
    if (handle != nullptr) {
      driver.close(handle);
    }
  }
  // Reads count bytes, waiting as long as they need.
  Bytes readAll(std::uint32_t count) {
    EXPECT_EQ(driver.setTimeouts(handle, kPatienceMs, kPatienceMs), FT_OK);
    Bytes bytes(count);
    std::uint32_t received = 0;
    EXPECT_EQ(driver.read(handle, bytes.data(), count, received), FT_OK);
    bytes.resize(received);
    return bytes;
  }

  Pty pty;
  TtyCableDriver driver{overridePath(pty.slavePath)};
  FT_HANDLE handle = nullptr;
};

TEST_F(TtyCableDriverOnPty, OverrideListsOneCableWithThePortNumberOfThePath) {
  std::uint32_t count = 0;
  ASSERT_EQ(driver.listDeviceCount(count), FT_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(descriptionAt(driver, 0), kCableDescription);
  CableDescription description{};
  EXPECT_EQ(driver.listDescription(1, description), FT_DEVICE_NOT_FOUND);

  std::int32_t comPort = -1;
  EXPECT_EQ(driver.getComPortNumber(handle, comPort), FT_OK);
  EXPECT_EQ(comPort, pty.number());
  EXPECT_EQ(driver.comPortDevice(comPort), pty.slavePath);
  FT_HANDLE other = nullptr;
  EXPECT_EQ(driver.open(1, other), FT_DEVICE_NOT_FOUND);

  // Through a link the cable is still the pty, with its number.
  driver.close(handle);
  handle = nullptr;
  std::string pattern = (fs::temp_directory_path() / "orvik-link-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path link = fs::path(pattern) / "usb-VL_CPS_Cable-if00-port0";
  fs::create_symlink(pty.slavePath, link);
  TtyCableDriver linked{overridePath(link.string())};
  FT_HANDLE linkedHandle = nullptr;
  ASSERT_EQ(linked.open(0, linkedHandle), FT_OK);
  EXPECT_EQ(linked.getComPortNumber(linkedHandle, comPort), FT_OK);
  EXPECT_EQ(comPort, pty.number());
  EXPECT_EQ(linked.comPortDevice(comPort), pty.slavePath);
  linked.close(linkedHandle);
  fs::remove_all(pattern);
}

// The override's one cable is listed only while its path names a character device, so that a
// port that has gone never shows as an attached cable; the hint then says what is wrong.
TEST(TtyCableDriverOverride, ListsTheCableOnlyWhileThePortIsADevice) {
  std::string pattern = (fs::temp_directory_path() / "orvik-port-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path folder(pattern);
  std::ofstream(folder / "regular") << "not a port";
  auto pty = std::make_unique<Pty>();
  const std::string ptyPath = pty->slavePath;
  const struct {
    std::string path;
    std::uint32_t count;
    std::string hint;
  } cases[] = {
      {ptyPath, 1, ""},
      {"/dev/null", 1, ""},  // a device; that it is no tty shows when it is opened
      {(folder / "regular").string(), 0,
       "Error:the port [" + (folder / "regular").string() + "] is not a tty."},
      {folder.string(), 0, "Error:the port [" + folder.string() + "] is not a tty."},
      {"/dev/ttyUSB-none", 0, "Error:the port [/dev/ttyUSB-none] does not exist."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    TtyCableDriver driver{overridePath(c.path)};
    std::uint32_t count = 9;
    ASSERT_EQ(driver.listDeviceCount(count), FT_OK);
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(driver.noCableHint(), c.hint);
  }

  TtyCableDriver null{overridePath("/dev/null")};
  FT_HANDLE handle = nullptr;
  EXPECT_EQ(null.open(0, handle), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(null.openFailureHint(), "Error:the port [/dev/null] is not a tty.");

  // The simulator ends: its pty goes, and with it the cable.
  TtyCableDriver driver{overridePath(ptyPath)};
  pty.reset();
  std::uint32_t count = 9;
  ASSERT_EQ(driver.listDeviceCount(count), FT_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(driver.noCableHint(), "Error:the port [" + ptyPath + "] does not exist.");
  fs::remove_all(folder);

  // Without an override the hint is about the cable itself.
  FakeSysfs empty;
  TtyCableDriver listed{empty.options()};
  EXPECT_EQ(listed.noCableHint(),
            "Error:no programming cable found. Plug in the USB programming cable, or name its "
            "port with --port.");
}

TEST_F(TtyCableDriverOnPty, OpensRawAndExclusively) {
  const termios2 tio = pty.line();
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP | PARMRK), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cc[VMIN], 0);
  EXPECT_EQ(tio.c_cc[VTIME], 0);

  // A second program on the same cable is turned away, even when it runs as root.
  TtyCableDriver second(overridePath(pty.slavePath));
  FT_HANDLE secondHandle = nullptr;
  EXPECT_EQ(second.open(0, secondHandle), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(second.openFailureHint(), "Error:the port [" + pty.slavePath +
                                          "] is in use by another program" + heldByThisProgram());
  EXPECT_EQ(second.lastError(), ERROR_GEN_FAILURE);

  ASSERT_EQ(driver.close(handle), FT_OK);
  handle = nullptr;
  ASSERT_EQ(second.open(0, secondHandle), FT_OK);
  EXPECT_EQ(second.openFailureHint(), "");
  EXPECT_EQ(second.close(secondHandle), FT_OK);
}

TEST_F(TtyCableDriverOnPty, BytesPassUnchangedBothWays) {
  const Bytes bytes = allByteValues();
  pty.send(bytes);
  EXPECT_EQ(readAll(256), bytes);

  std::uint32_t written = 0;
  ASSERT_EQ(driver.write(handle, bytes.data(), 256, written), FT_OK);
  EXPECT_EQ(written, 256u);
  EXPECT_EQ(pty.receive(256), bytes);
}

TEST_F(TtyCableDriverOnPty, BaudRateIsTheExactNumber) {
  for (std::uint32_t baud : {16406u, 57600u}) {
    ASSERT_EQ(driver.setBaudRate(handle, baud), FT_OK);
    const termios2 tio = pty.line();
    EXPECT_EQ(tio.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(tio.c_ospeed, baud);
    EXPECT_EQ(tio.c_ispeed, baud);
  }
  // Rate 0 would hang the line up.
  EXPECT_EQ(driver.setBaudRate(handle, 0), FT_INVALID_BAUD_RATE);
  EXPECT_EQ(pty.line().c_ospeed, 57600u);
}

TEST_F(TtyCableDriverOnPty, DataCharacteristicsAndFlowControl) {
  // A pty keeps 8 bits and no parity whatever it is told, so only the stop bits show here.
  ASSERT_EQ(driver.setDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_2, FT_PARITY_NONE),
            FT_OK);
  EXPECT_NE(pty.line().c_cflag & CSTOPB, 0u);
  ASSERT_EQ(driver.setDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE),
            FT_OK);
  EXPECT_EQ(pty.line().c_cflag & CSTOPB, 0u);
  EXPECT_EQ(driver.setDataCharacteristics(handle, 6, FT_STOP_BITS_1, FT_PARITY_NONE),
            FT_INVALID_PARAMETER);
  EXPECT_EQ(driver.setDataCharacteristics(handle, FT_BITS_8, 1, FT_PARITY_NONE),
            FT_INVALID_PARAMETER);
  EXPECT_EQ(driver.setDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, 5),
            FT_INVALID_PARAMETER);

  ASSERT_EQ(driver.setFlowControl(handle, FT_FLOW_RTS_CTS, 0, 0), FT_OK);
  EXPECT_NE(pty.line().c_cflag & CRTSCTS, 0u);
  ASSERT_EQ(driver.setFlowControl(handle, FT_FLOW_XON_XOFF, 0x11, 0x13), FT_OK);
  termios2 tio = pty.line();
  EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(tio.c_cc[VSTART], 0x11);
  EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
  ASSERT_EQ(driver.setFlowControl(handle, FT_FLOW_NONE, 0, 0), FT_OK);
  tio = pty.line();
  EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(driver.setFlowControl(handle, 0x0200, 0, 0), FT_INVALID_PARAMETER);
}

TEST_F(TtyCableDriverOnPty, ReadReturnsWhatArrivedWhenTheTimeOutRunsOut) {
  pty.send({1, 2, 3, 4});
  EXPECT_EQ(readAll(1), Bytes{1});  // the rest has arrived too

  ASSERT_EQ(driver.setTimeouts(handle, 30, 30), FT_OK);
  Bytes buffer(10);
  std::uint32_t received = 99;
  EXPECT_EQ(driver.read(handle, buffer.data(), 10, received), FT_OK);
  EXPECT_EQ(received, 3u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3), (Bytes{2, 3, 4}));

  // Time-out 0: what is there now, without waiting.
  ASSERT_EQ(driver.setTimeouts(handle, 0, 0), FT_OK);
  EXPECT_EQ(driver.read(handle, buffer.data(), 10, received), FT_OK);
  EXPECT_EQ(received, 0u);
}

TEST_F(TtyCableDriverOnPty, WriteReturnsWhatFitWhenTheTimeOutRunsOut) {
  // Nobody reads the master, so the pty's buffers fill and the rest must wait.
  ASSERT_EQ(driver.setTimeouts(handle, 0, 20), FT_OK);
  const Bytes bytes(1 << 20, 0x55);
  std::uint32_t written = 0;
  EXPECT_EQ(driver.write(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), written),
            FT_OK);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, bytes.size());
}

TEST_F(TtyCableDriverOnPty, PurgeDropsPendingInputOnlyWhenAskedTo) {
  pty.send({0xA1, 0xA2});
  ASSERT_EQ(readAll(1), Bytes{0xA1});
  // The cable port purges with this mask before every write; it names neither queue.
  ASSERT_EQ(driver.purge(handle, 4), FT_OK);
  EXPECT_EQ(readAll(1), Bytes{0xA2});

  pty.send({0xB1, 0xB2, 0xB3});
  ASSERT_EQ(readAll(1), Bytes{0xB1});
  ASSERT_EQ(driver.purge(handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
  ASSERT_EQ(driver.setTimeouts(handle, 20, 20), FT_OK);
  std::uint8_t byte = 0;
  std::uint32_t received = 99;
  EXPECT_EQ(driver.read(handle, &byte, 1, received), FT_OK);
  EXPECT_EQ(received, 0u);

  pty.send({0xC1});
  EXPECT_EQ(readAll(1), Bytes{0xC1});
}

TEST_F(TtyCableDriverOnPty, AVanishedCableFailsReadAndWrite) {
  ASSERT_EQ(driver.setTimeouts(handle, kPatienceMs, kPatienceMs), FT_OK);
  pty.closeMaster();
  std::uint8_t buffer[8] = {};
  std::uint32_t count = 99;
  EXPECT_EQ(driver.read(handle, buffer, 8, count), FT_IO_ERROR);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(driver.write(handle, buffer, 8, count), FT_IO_ERROR);
  EXPECT_EQ(driver.close(handle), FT_OK);
  handle = nullptr;
}

TEST_F(TtyCableDriverOnPty, HandlesItDidNotGiveOutAreRefused) {
  // A handle of another driver instance, a pointer that was never a handle, and none.
  Pty otherPty;
  TtyCableDriver other(overridePath(otherPty.slavePath));
  FT_HANDLE foreign = nullptr;
  ASSERT_EQ(other.open(0, foreign), FT_OK);
  int stranger = 0;

  std::uint8_t byte = 0;
  std::uint32_t count = 0;
  std::int32_t comPort = 0;
  const std::vector<std::function<FT_STATUS(FT_HANDLE)>> calls = {
      [&](FT_HANDLE h) { return driver.getComPortNumber(h, comPort); },
      [&](FT_HANDLE h) { return driver.setBaudRate(h, 57600); },
      [&](FT_HANDLE h) { return driver.setDataCharacteristics(h, FT_BITS_8, 0, 0); },
      [&](FT_HANDLE h) { return driver.setFlowControl(h, FT_FLOW_NONE, 0, 0); },
      [&](FT_HANDLE h) { return driver.setTimeouts(h, 1, 1); },
      [&](FT_HANDLE h) { return driver.purge(h, FT_PURGE_RX); },
      [&](FT_HANDLE h) { return driver.read(h, &byte, 1, count); },
      [&](FT_HANDLE h) { return driver.write(h, &byte, 1, count); },
      [&](FT_HANDLE h) { return driver.close(h); },
  };
  const auto expectRefused = [&](FT_HANDLE bad) {
    for (std::size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i](bad), FT_INVALID_HANDLE) << "call " << i;
    }
  };
  expectRefused(nullptr);
  expectRefused(&stranger);
  expectRefused(foreign);
  EXPECT_EQ(driver.getComPortNumber(handle, comPort), FT_OK);

  // A handle once closed is dead.
  ASSERT_EQ(driver.close(handle), FT_OK);
  expectRefused(handle);
  handle = nullptr;
  EXPECT_EQ(other.close(foreign), FT_OK);
}

// --- Which driver the tools get -------------------------------------------------------------

class TtyCableDriverFactory : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* value = std::getenv("ORVIK_PORT")) {
      saved_ = value;
    }
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("ORVIK_PORT", saved_->c_str(), 1);
    } else {
      ::unsetenv("ORVIK_PORT");
    }
  }
  // The path the driver tries to open, read from its failure hint.
  static std::string openedPath(CableDriver& driver) {
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(driver.open(0, handle), FT_DEVICE_NOT_OPENED);
    return driver.openFailureHint();
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(TtyCableDriverFactory, ExplicitPathThenEnvironmentThenSysfs) {
  ::setenv("ORVIK_PORT", "/nonexistent/from-environment", 1);
  EXPECT_EQ(openedPath(*makeTtyCableDriver("/nonexistent/explicit")),
            "Error:the port [/nonexistent/explicit] does not exist.");
  EXPECT_EQ(openedPath(*makeTtyCableDriver(std::nullopt)),
            "Error:the port [/nonexistent/from-environment] does not exist.");
  EXPECT_EQ(openedPath(*makeTtyCableDriver("")),
            "Error:the port [/nonexistent/from-environment] does not exist.");

  // Without either, the listing is whatever sysfs shows, not the one override cable.
  ::setenv("ORVIK_PORT", "", 1);
  auto driver = makeTtyCableDriver(std::nullopt);
  std::uint32_t count = 0;
  ASSERT_EQ(driver->listDeviceCount(count), FT_OK);
  FT_HANDLE handle = nullptr;
  EXPECT_EQ(driver->open(static_cast<int>(count), handle), FT_DEVICE_NOT_FOUND);
}

// --- The cable port over the tty driver ------------------------------------------------------

class CablePortOnPty : public testing::ErrorTextTest {
 protected:
  Pty pty;
  VirtualClock clock;
  TtyCableDriver driver{overridePath(pty.slavePath)};
  USBSerial port{driver, clock};
};

TEST_F(CablePortOnPty, FindsOpensSetsUpAndMovesBytes) {
  int first = -1;
  ASSERT_EQ(port.countCables(first), 1);
  ASSERT_EQ(first, 0);
  ASSERT_TRUE(port.open(first));
  EXPECT_EQ(port.comPort(), pty.number());

  ASSERT_TRUE(port.setBaudRate(16406));
  EXPECT_EQ(pty.line().c_ospeed, 16406u);
  ASSERT_TRUE(port.setDataCharacteristics());
  ASSERT_TRUE(port.setFlowControl());
  ASSERT_TRUE(port.setTimeouts(250, 300));
  ASSERT_TRUE(port.setBaudRate(57600));
  EXPECT_EQ(pty.line().c_ospeed, 57600u);

  const Bytes request{0xF2, 0x23, 0x03, 0xE7};
  EXPECT_EQ(port.write(request.data(), 4), 4u);
  EXPECT_EQ(pty.receive(4), request);

  const Bytes response{0x50, 0xF3, 0x8C, 0x01, 0x02, 0x7D};
  pty.send(response);
  Bytes buffer(response.size());
  EXPECT_EQ(port.read(buffer.data(), 6), 6u);
  EXPECT_EQ(buffer, response);
  EXPECT_TRUE(port.usable());
  EXPECT_TRUE(errorLines().empty());
  EXPECT_TRUE(port.close());
}

TEST_F(CablePortOnPty, OpenFailureSaysWhyOnASecondLine) {
  USBSerial holder{driver, clock};
  ASSERT_TRUE(holder.open(0));
  EXPECT_FALSE(port.open(0));
  EXPECT_EQ(errorLines(), (Lines{"3:Error:failed to open the port refered by the index [0]",
                                 "3:Error:the port [" + pty.slavePath +
                                     "] is in use by another program" + heldByThisProgram()}));

  removeErrors(ErrorCategory::OK);
  TtyCableDriver gone(overridePath("/nonexistent/ttyUSB9"));
  USBSerial missing{gone, clock};
  EXPECT_FALSE(missing.open(0));
  EXPECT_EQ(errorLines(), (Lines{"3:Error:failed to open the port refered by the index [0]",
                                 "3:Error:the port [/nonexistent/ttyUSB9] does not exist."}));
  EXPECT_EQ(missing.lastStatus(), FT_DEVICE_NOT_OPENED);
}

}  // namespace
}  // namespace orvik
