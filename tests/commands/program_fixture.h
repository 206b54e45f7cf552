#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "commands/cmd_program.h"
#include "exec/message_window.h"
#include "exec/radio_manager.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"
#include "tests/support/error_text_fixture.h"

namespace orvik::testing {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

inline constexpr std::uint32_t kDynAddress = 0x820000;
inline constexpr std::uint32_t kDynSize = 0x1000;
inline constexpr std::uint32_t kFirmwareStart = 0x10000;

// A contact record as the radio keeps it: byte 7 is its list kind, the rest tells records
// apart.
Bytes contactRecord(std::uint8_t kind, std::uint8_t id, std::size_t size = 16);

// The demo package, written once per test program into a temporary folder.
const std::filesystem::path& demoPackage();
std::filesystem::path demoFirmwareFile();
std::filesystem::path demoAddressMapFile();
std::filesystem::path demoCodeplugFile();
// What the demo package programs: the firmware image and the DEF block's buffer.
const Bytes& demoImage();
const Bytes& demoDefBlock();

// A firmware container holding the image bytes as they are.
void writeFirmwareContainer(const std::filesystem::path& path, const Bytes& image);
// A codeplug container whose stream holds the bytes from the address.
void writeCodeplugContainer(const std::filesystem::path& path, std::uint32_t address,
                            const Bytes& bytes);
// An address-map container holding the text.
void writeAddressMapContainer(const std::filesystem::path& path, const std::string& text);
// A valid image of exactly the given (even, at least 10) length, with recognisable bytes.
Bytes imageOfLength(std::size_t length);

// A fresh temporary folder for one test, removed with everything in it afterwards.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A message window on the test thread that keeps what reaches it.
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  WindowHandle window() const { return window_; }
  const std::vector<Message>& messages() const { return messages_; }
  std::vector<unsigned> progress() const;

 private:
  WindowHandle window_ = kNoWindow;
  std::vector<Message> messages_;
};

// Request kinds in order, with repeats folded: "write-flash x81".
Lines requestRuns(const std::vector<RequestKind>& kinds);

// A connected simulated radio with an identity read, six contacts of all four kinds and a
// CmdProgram set up for a full update of the demo package with the personality kept.
class ProgramTest : public ErrorTextTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the command on the test thread and delivers its posted messages.
  bool run();

  // The radio's contacts in the order the restore writes them back: kinds 4, 2, 3, 1.
  std::vector<Bytes> contactsInRestoreOrder() const;
  bool flashHolds(std::uint32_t address, const Bytes& bytes) const;
  bool flashIsErased(std::uint32_t address, std::size_t count) const;
  bool flashIsUntouched(std::uint32_t address, std::size_t count) const;
  Bytes dynMemory() const { return radio.memoryBytes(kDynAddress, kDynSize); }

  std::vector<Bytes> originalContacts;
  Bytes originalDyn;
  SimRadio radio;
  VirtualClock clock;
  SimCableDriver cable{radio, clock};
  RadioManager manager{cable, clock};
  RadioInfo& info = *manager.radioInfo();
  MessageRecorder recorder;
  TempFolder temp;
  CmdProgram command;
};

}  // namespace orvik::testing
