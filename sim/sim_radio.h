#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/version_record.h"
#include "sim/fault_plan.h"
#include "sim/request_assembler.h"
#include "sim/request_kind.h"

namespace orvik {

using SimVersionRecord = VersionRecord;

// What a radio is, as the identity read and the update sequence see it. Everything a test
// or orvik-radio-sim may want to choose before the radio is first spoken to.
struct SimRadioConfig {
  // Display text "LA26CKN9AR1": digits are stored as values 0..15, letters as ASCII.
  std::array<std::uint8_t, 11> modelNumber = {'L', 'A', 2, 6, 'C', 'K', 'N', 9, 'A', 'R', 1};
  // 1 to 11 bytes; the status query answers exactly these.
  std::vector<std::uint8_t> serialNumber = {'1', '2', '3', '4', 'A', 'B', 'C', '5', '6', '7', '8'};
  SimVersionRecord firmwareVersion = {'R', 1, 2, 3};
  SimVersionRecord codeplugVersion = {'R', 1, 2, 0};
  SimVersionRecord keypadVersion = {'R', 1, 0, 0};
  std::uint8_t keypadKind = 0;
  // The first 8 bytes are the user private ID, big-endian (1234567 here).
  std::array<std::uint8_t, 12> privateId = {0, 0, 0, 0, 0, 0x12, 0xD6, 0x87, 0, 0, 0, 0};
  // Told in the answer to the FLASH test mode request; picks the DYN flash address.
  std::uint8_t flashLayout = 1;
  // Answered by both resets.
  std::uint16_t resetStatusWord = 0;
  // Where the dynamic block lives in radio memory.
  std::uint32_t dynStart = 0x820000;
  std::uint32_t dynSize = 0x1000;
};

enum class SimTestMode { Normal, Tovr, Flash };

// The radio side of the TOVR protocol. Bytes go in through receive(); answers (the
// acknowledgement 0x50 and one frame) collect in an output queue that a cable drains.
// It holds identity, memory, flash with erase units, test modes, contacts and the
// factory-backup and boot-load flags, keeps an ordered log of the requests it recognised
// and follows a fault plan. A frame of no known shape is kept aside as unrecognised; a known
// request with a type the radio does not have (a status item, reset or erase type) is
// logged but not answered. All methods lock, so a server thread may feed the radio while a
// test reads its state.
class SimRadio {
 public:
  static constexpr std::uint32_t kDefaultBaud = 57600;
  // A 2 MiB firmware image programmed from 0x10000, which also covers every layout's DYN
  // address.
  static constexpr std::uint32_t kFlashSize = 0x210000;
  static constexpr std::uint8_t kRefusedOpcode = 0x8D;

  // The DYN flash address of a layout, if the layout has one.
  static std::optional<std::uint32_t> dynFlashAddress(std::uint8_t layout);
  // What flash holds before anything is erased: recognisable and never 0xFF, so that a
  // program without an erase shows.
  static std::uint8_t initialFlashByte(std::uint32_t address);
  // What the dynamic block holds at start, so that a backup and restore can be checked.
  static std::uint8_t initialDynByte(std::uint32_t offset);

  explicit SimRadio(SimRadioConfig config = {});
  SimRadio(const SimRadio&) = delete;
  SimRadio& operator=(const SimRadio&) = delete;

  // Bytes that reach the radio, always understood (the pty, which has no baud to compare).
  void receive(std::span<const std::uint8_t> bytes);
  // Bytes sent at the cable's baud: understood only when it equals the radio's rate.
  void receive(std::span<const std::uint8_t> bytes, std::uint32_t cableBaud);

  // Answers waiting for the cable, oldest first; taking them empties the queue.
  std::vector<std::uint8_t> takeOutput();
  std::size_t pendingOutput() const;
  void clearOutput();
  // True once after a Disconnect fault cut an answer off.
  bool takeDisconnect();
  // Forgets a partly received request.
  void clearInput();

  SimRadioConfig config() const;
  void setConfig(const SimRadioConfig& config);
  void setFaultPlan(FaultPlan plan);
  // Called for every recognised request with the fault it gets, while the radio's lock is
  // held: the observer must not call back into the radio.
  void setRequestObserver(
      std::function<void(const LoggedRequest&, std::optional<FaultKind>)> observer);

  // Run-time state.
  std::uint32_t currentBaud() const;
  void setCurrentBaud(std::uint32_t baud);
  SimTestMode testMode() const;
  void setTestMode(SimTestMode mode);
  std::optional<std::uint16_t> protectionMode() const;
  bool factoryBackedUp() const;
  void setFactoryBackedUp(bool backedUp);
  // After the boot-load request the line belongs to the keypad's boot-loader, not to TOVR.
  // The simulated boot-loader understands one line of text, "KEYPAD <version>\n" (for example
  // KEYPAD R01.01.00): it programs the keypad with that version, answers "OK\n", and the radio
  // restarts as after a power cycle and answers TOVR again. It ignores anything else.
  bool bootLoadMode() const;
  // The test ends boot-load mode, as a power cycle would.
  void setBootLoadMode(bool on);
  // Keypad programmings the boot-loader carried out.
  int keypadProgrammingCount() const;
  int factoryRestoreCount() const;
  int blockResetCount() const;
  int contactRestoreCount() const;

  // Flash. Reading past the end yields nothing for those bytes.
  std::vector<std::uint8_t> flashBytes(std::uint32_t address, std::size_t count) const;
  void setFlashBytes(std::uint32_t address, std::span<const std::uint8_t> bytes);
  // Bytes programmed over flash that was not erased (not 0xFF) since the start.
  std::size_t flashOverwrites() const;

  // Memory, 24-bit addresses; never written bytes read 0.
  std::vector<std::uint8_t> memoryBytes(std::uint32_t address, std::size_t count) const;
  void setMemoryBytes(std::uint32_t address, std::span<const std::uint8_t> bytes);

  // Contacts in the radio's order; byte 7 of a record is its list kind 1..4.
  std::vector<std::vector<std::uint8_t>> contacts() const;
  void setContacts(std::vector<std::vector<std::uint8_t>> contacts);

  // The requests recognised so far, in order.
  std::vector<LoggedRequest> requests() const;
  std::vector<LoggedRequest> requestsOf(RequestKind kind) const;
  std::vector<RequestKind> requestKinds() const;
  int count(RequestKind kind) const;
  // Empties the log and restarts the occurrence counts of the fault plan.
  void clearLog();
  // Frames with a valid checksum that match no request the radio knows; never answered.
  std::vector<std::vector<std::uint8_t>> unrecognised() const;
  // Complete frames dropped for a wrong checksum.
  std::size_t badChecksumFrames() const;

 private:
  struct Answer {
    std::uint8_t opcode;
    std::vector<std::uint8_t> payload;
  };

  void receiveLocked(std::span<const std::uint8_t> bytes);
  // Hands bytes to the keypad boot-loader until it restarts the radio; returns how many it took.
  std::size_t bootLoaderReceive(std::span<const std::uint8_t> bytes);
  void bootLoaderLine(const std::string& line);
  void handle(const RequestFrame& frame);
  std::optional<Answer> carryOut(RequestKind kind, std::span<const std::uint8_t> payload);
  void emit(const std::optional<Answer>& answer, std::optional<FaultKind> fault);

  std::optional<Answer> statusItem(std::uint8_t type) const;
  std::optional<Answer> eraseFlash(std::uint8_t type, std::uint32_t address);
  std::optional<Answer> writeFlash(std::uint32_t address, std::span<const std::uint8_t> data);
  std::optional<Answer> readContact(std::uint8_t index) const;
  std::optional<Answer> writeContact(std::uint8_t index, std::uint8_t total,
                                     std::span<const std::uint8_t> record);
  void fillDyn(std::uint8_t value);
  // A hard reset starts whatever was programmed; see takeVersionsFromFlash in the .cpp.
  void takeVersionsFromFlash();

  std::uint8_t memoryByte(std::uint32_t address) const;
  void setMemoryByte(std::uint32_t address, std::uint8_t value);

  // Everything a request can change, in one piece, so that a request cut off by a
  // Disconnect fault can be answered (half) without taking effect.
  struct State {
    SimRadioConfig config;
    std::uint32_t baud = kDefaultBaud;
    // A rate switch takes effect once its answer is out.
    std::optional<std::uint32_t> pendingBaud;
    SimTestMode testMode = SimTestMode::Normal;
    std::optional<std::uint16_t> protectionMode;
    bool factoryBackedUp = false;
    bool bootLoad = false;
    // The boot-loader's line so far.
    std::string bootLoaderInput;
    int keypadProgrammings = 0;
    int factoryRestores = 0;
    int blockResets = 0;
    int contactRestores = 0;
    std::vector<std::uint8_t> flash;
    std::size_t flashOverwrites = 0;
    // Sparse memory in pages, created on first write.
    std::map<std::uint32_t, std::vector<std::uint8_t>> memoryPages;
    std::vector<std::vector<std::uint8_t>> contacts;
  };

  mutable std::mutex mutex_;
  State state_;
  FaultPlan faultPlan_;
  std::function<void(const LoggedRequest&, std::optional<FaultKind>)> observer_;
  RequestAssembler assembler_;
  std::vector<std::uint8_t> output_;
  bool disconnectPending_ = false;

  std::vector<LoggedRequest> log_;
  std::array<int, kRequestKindCount> occurrences_{};
  std::vector<std::vector<std::uint8_t>> unrecognised_;
};

}  // namespace orvik
