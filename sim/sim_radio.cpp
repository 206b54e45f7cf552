#include "sim/sim_radio.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <utility>

#include "base/byte_reader.h"
#include "base/version_record.h"

namespace orvik {
namespace {

using Form = RequestFrame::Form;

constexpr std::uint32_t kAddressMask = 0xFFFFFF;
constexpr std::uint32_t kPageSize = 0x1000;
constexpr std::uint32_t kEraseUnit64K = 0x10000;
constexpr std::uint32_t kEraseUnit4K = 0x1000;
constexpr std::uint8_t kEraseType64K = 6;
constexpr std::uint8_t kEraseType4K = 4;
constexpr std::size_t kMaxSerialLength = 11;

// Softpot types with an effect of their own.
constexpr std::uint8_t kSoftpotBaudRate = 0x2A;
constexpr std::uint8_t kSoftpotResetAllBlocks = 0x2E;
constexpr std::uint8_t kSoftpotRestoreFactory = 0x27;

constexpr std::uint8_t kContactReadCode = 0x30;
constexpr std::uint8_t kContactWriteCode = 0x31;
constexpr std::uint8_t kContactRestoreCode = 0x36;
constexpr std::uint8_t kContactAccepted = 0x50;
constexpr std::uint8_t kContactAnswered = 0x8C;
constexpr std::uint8_t kContactRefused = 0x00;

// Answer opcodes.
constexpr std::uint8_t kMemReadAnswer = 0x80;
constexpr std::uint8_t kMemWriteAnswer = 0x84;
constexpr std::uint8_t kAccepted = 0x8C;
constexpr std::uint8_t kSoftpotReadAnswer = 0x8A;
constexpr std::uint8_t kFlashAccepted = 0x95;
constexpr std::uint8_t kStatusAnswer = 0xA3;
constexpr std::uint8_t kContactAnswer = 0x41;

// Bytes the PC must skip between the acknowledgement and the frame: neither 0xFF nor a
// short-frame start.
constexpr std::array<std::uint8_t, 3> kJunk = {0x00, 0x7E, 0x13};

// How the radio frames an answer: the acknowledgement, then a short frame (F0 + count, opcode,
// at most 13 payload bytes, checksum) or a long one (FF, opcode, 16-bit count, payload,
// checksum), the count taking in the checksum; all bytes of a frame add up to 0xFF.
constexpr std::uint8_t kAcknowledgement = 0x50;
constexpr std::size_t kLongestShortPayload = 13;

std::uint8_t frameChecksum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (const std::uint8_t b : bytes) {
    sum += b;
  }
  return static_cast<std::uint8_t>(0xFF - (sum & 0xFF));
}

std::vector<std::uint8_t> answerFrame(std::uint8_t opcode, std::span<const std::uint8_t> payload) {
  const std::size_t count = payload.size() + 1;
  std::vector<std::uint8_t> frame;
  if (payload.size() <= kLongestShortPayload) {
    frame = {static_cast<std::uint8_t>(0xF0 + count), opcode};
  } else {
    frame = {0xFF, opcode, static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)};
  }
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(frameChecksum(frame));
  return frame;
}

bool payloadIs(std::span<const std::uint8_t> payload, std::initializer_list<std::uint8_t> bytes) {
  return std::equal(payload.begin(), payload.end(), bytes.begin(), bytes.end());
}

std::uint32_t address24(std::span<const std::uint8_t> bytes) {
  return std::uint32_t{bytes[0]} << 16 | std::uint32_t{bytes[1]} << 8 | bytes[2];
}

// One row per request the radio knows: the frame form and opcode it comes in, and the shape
// its payload must have. Frames that fit no row are unrecognised and never answered.
struct RequestShape {
  Form form;
  bool eitherForm;
  std::uint8_t opcode;
  RequestKind kind;
  bool (*fits)(std::span<const std::uint8_t> payload);
};

constexpr RequestShape kRequestTable[] = {
    {Form::Long, false, 0x11, RequestKind::MemRead, [](auto p) { return p.size() == 4; }},
    {Form::Long, false, 0x17, RequestKind::MemWrite,
     [](auto p) { return p.size() >= 4 && p[0] == 0x01; }},
    {Form::Long, false, 0x10, RequestKind::Reset, [](auto p) { return p.size() == 1; }},
    {Form::Short, false, 0x22, RequestKind::TestMode, [](auto p) { return p.size() == 3; }},
    {Form::Short, false, 0x24, RequestKind::FlashFollowUp,
     [](auto p) {
       return payloadIs(p, {0x02, 0x00});
     }},
    {Form::Long, false, 0x38, RequestKind::SoftpotWrite,
     [](auto p) {
       return p.size() >= 4 && p[1] == 0 && p[2] == 0 &&
              (p[0] != kSoftpotBaudRate || p.size() == 8);
     }},
    {Form::Short, false, 0x38, RequestKind::FactoryBackup,
     [](auto p) {
       return payloadIs(p, {0x26, 0x00, 0x00, 0x00});
     }},
    {Form::Long, false, 0x20, RequestKind::SoftpotRead,
     [](auto p) {
       return payloadIs(p, {0x31, 0x00, 0x00});
     }},
    {Form::Short, false, 0x23, RequestKind::StatusQuery, [](auto p) { return p.size() == 1; }},
    {Form::Short, false, 0x18, RequestKind::SerialNumber,
     [](auto p) {
       return p.size() >= 3 && p.size() <= 2 + kMaxSerialLength && p[0] == 0x01 && p[1] == 0x01;
     }},
    {Form::Short, false, 0x72, RequestKind::Protection,
     [](auto p) { return p.size() == 4 && p[0] == 0x08 && p[1] == 0x00; }},
    {Form::Long, false, 0x72, RequestKind::EraseFlash,
     [](auto p) { return p.size() == 4 && p[0] != 0x01; }},
    {Form::Long, false, 0x72, RequestKind::WriteFlash,
     [](auto p) { return p.size() >= 4 && p[0] == 0x01; }},
    {Form::Long, true, 0x9B, RequestKind::ContactRead,
     [](auto p) { return p.size() == 4 && p[0] == kContactReadCode && p[1] == 0x00; }},
    {Form::Long, true, 0x9B, RequestKind::ContactWrite,
     [](auto p) { return p.size() >= 4 && p[0] == kContactWriteCode && p[1] == 0x00; }},
    {Form::Short, false, 0x9B, RequestKind::ContactRestore,
     [](auto p) { return payloadIs(p, {kContactRestoreCode}); }},
    {Form::Short, false, 0x40, RequestKind::Probe, [](auto p) { return p.empty(); }},
};

std::optional<RequestKind> classify(const RequestFrame& frame) {
  if (frame.form == Form::BootLoad) {
    return RequestKind::BootLoad;
  }
  const auto payload = frame.payload();
  for (const RequestShape& shape : kRequestTable) {
    if ((shape.eitherForm || shape.form == frame.form) && shape.opcode == frame.opcode() &&
        shape.fits(payload)) {
      return shape.kind;
    }
  }
  return std::nullopt;
}

bool isFlashCommand(RequestKind kind) {
  return kind == RequestKind::Protection || kind == RequestKind::EraseFlash ||
         kind == RequestKind::WriteFlash;
}

}  // namespace

std::optional<std::uint32_t> SimRadio::dynFlashAddress(std::uint8_t layout) {
  switch (layout) {
    case 0:
      return 0x70000;
    case 1:
      return 0xE0000;
    case 2:
      return 0x180000;
    default:
      return std::nullopt;
  }
}

std::uint8_t SimRadio::initialFlashByte(std::uint32_t address) {
  return static_cast<std::uint8_t>((address * 31 + 7) & 0x7F);
}

std::uint8_t SimRadio::initialDynByte(std::uint32_t offset) {
  return static_cast<std::uint8_t>(offset * 13 + 1);
}

SimRadio::SimRadio(SimRadioConfig config) {
  state_.config = std::move(config);
  state_.flash.resize(kFlashSize);
  for (std::uint32_t a = 0; a < kFlashSize; ++a) {
    state_.flash[a] = initialFlashByte(a);
  }
  for (std::uint32_t i = 0; i < state_.config.dynSize; ++i) {
    setMemoryByte(state_.config.dynStart + i, initialDynByte(i));
  }
}

void SimRadio::receive(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  receiveLocked(bytes);
}

void SimRadio::receive(std::span<const std::uint8_t> bytes, std::uint32_t cableBaud) {
  std::lock_guard lock(mutex_);
  // At another rate the radio's receiver sees only noise.
  if (cableBaud == state_.baud) {
    receiveLocked(bytes);
  }
}

void SimRadio::receiveLocked(std::span<const std::uint8_t> bytes) {
  if (state_.bootLoad) {
    // What follows a programming line is for the restarted radio (a slow reader can get the
    // tool's next request in the same read).
    bytes = bytes.subspan(bootLoaderReceive(bytes));
    if (state_.bootLoad || bytes.empty()) {
      return;
    }
  }
  assembler_.feed(bytes);
  while (auto frame = assembler_.next()) {
    handle(*frame);
    // Nothing more reaches a radio that left for its boot-loader or lost its cable.
    if (state_.bootLoad || disconnectPending_) {
      assembler_.clear();
      break;
    }
  }
}

std::size_t SimRadio::bootLoaderReceive(std::span<const std::uint8_t> bytes) {
  // Longer than any line the boot-loader knows: it is not one of them.
  constexpr std::size_t kLongestLine = 64;
  std::size_t i = 0;
  for (; i < bytes.size() && state_.bootLoad; ++i) {
    const char c = static_cast<char>(bytes[i]);
    if (c == '\n') {
      std::string line = std::move(state_.bootLoaderInput);
      state_.bootLoaderInput.clear();
      bootLoaderLine(line);
    } else if (state_.bootLoaderInput.size() < kLongestLine) {
      state_.bootLoaderInput.push_back(c);
    }
  }
  return i;
}

void SimRadio::bootLoaderLine(const std::string& line) {
  constexpr std::string_view kProgram = "KEYPAD ";
  std::string_view text(line);
  if (!text.empty() && text.back() == '\r') {
    text.remove_suffix(1);
  }
  if (!text.starts_with(kProgram)) {
    return;
  }
  const auto version = parseVersionRecord(text.substr(kProgram.size()));
  if (!version) {
    return;
  }
  state_.config.keypadVersion = *version;
  ++state_.keypadProgrammings;
  // The boot-loader says it is done, so that its script can end knowing the line was taken.
  constexpr std::string_view kDone = "OK\n";
  output_.insert(output_.end(), kDone.begin(), kDone.end());
  // The radio restarts with its new keypad firmware.
  state_.bootLoad = false;
  state_.bootLoaderInput.clear();
  state_.testMode = SimTestMode::Normal;
  state_.baud = kDefaultBaud;
  state_.pendingBaud.reset();
  assembler_.clear();
}

void SimRadio::handle(const RequestFrame& frame) {
  const std::optional<RequestKind> kind = classify(frame);
  if (!kind) {
    unrecognised_.push_back(frame.bytes);
    return;
  }
  log_.push_back(LoggedRequest{*kind, frame.bytes});
  const int occurrence = ++occurrences_[static_cast<std::size_t>(*kind)];
  const std::optional<FaultKind> fault = faultPlan_.faultFor(*kind, occurrence);
  if (observer_) {
    observer_(log_.back(), fault);
  }
  if (fault == FaultKind::Disconnect) {
    // Half of the answer goes out before the cable vanishes, but the request must not
    // take effect: work it out on the state, then put the state back.
    State before = state_;
    const std::optional<Answer> answer = carryOut(*kind, frame.payload());
    state_ = std::move(before);
    emit(answer, fault);
    return;
  }
  if (fault && faultSkipsRequest(*fault)) {
    emit(std::nullopt, fault);
    return;
  }
  const std::optional<Answer> answer = carryOut(*kind, frame.payload());
  emit(answer, fault);
  if (state_.pendingBaud) {
    state_.baud = *state_.pendingBaud;
    state_.pendingBaud.reset();
  }
}

std::optional<SimRadio::Answer> SimRadio::carryOut(RequestKind kind,
                                                   std::span<const std::uint8_t> payload) {
  if (isFlashCommand(kind) && state_.testMode != SimTestMode::Flash) {
    return Answer{kRefusedOpcode, {0x00}};
  }
  switch (kind) {
    case RequestKind::MemRead: {
      const std::uint8_t count = payload[0];
      const std::uint32_t address = address24(payload.subspan(1));
      ByteWriter answer;
      answer.be32(address);
      for (std::uint32_t i = 0; i < count; ++i) {
        answer.u8(memoryByte(address + i));
      }
      return Answer{kMemReadAnswer, answer.take()};
    }
    case RequestKind::MemWrite: {
      const std::uint32_t address = address24(payload.subspan(1));
      const auto data = payload.subspan(4);
      for (std::size_t i = 0; i < data.size(); ++i) {
        setMemoryByte(address + static_cast<std::uint32_t>(i), data[i]);
      }
      ByteWriter answer;
      answer.be32(address);
      return Answer{kMemWriteAnswer, answer.take()};
    }
    case RequestKind::Reset: {
      // 0 soft, 1 hard; both leave test mode and go back to the default rate.
      if (payload[0] > 1) {
        return std::nullopt;
      }
      state_.testMode = SimTestMode::Normal;
      state_.pendingBaud = kDefaultBaud;
      if (payload[0] == 1) {
        takeVersionsFromFlash();
      }
      const std::uint16_t status = state_.config.resetStatusWord;
      return Answer{kAccepted,
                    {static_cast<std::uint8_t>(status >> 8), static_cast<std::uint8_t>(status)}};
    }
    case RequestKind::TestMode:
      if (payload[0] == 0x08) {
        state_.testMode = SimTestMode::Flash;
        return Answer{kAccepted, {0x08, state_.config.flashLayout}};
      }
      if (payload[0] == 0x01) {
        state_.testMode = SimTestMode::Tovr;
        return Answer{kAccepted, {0x01, 0x00}};
      }
      return std::nullopt;
    case RequestKind::FlashFollowUp:
      return Answer{kAccepted, {0x02, 0x00}};
    case RequestKind::SoftpotWrite: {
      const std::uint8_t type = payload[0];
      if (type == kSoftpotBaudRate) {
        ByteReader value(payload.subspan(4));
        const std::uint32_t rate = value.be32();
        if (rate == 0) {
          return std::nullopt;
        }
        state_.pendingBaud = rate;
      } else if (type == kSoftpotResetAllBlocks) {
        fillDyn(0x00);
        state_.contacts.clear();
        ++state_.blockResets;
      } else if (type == kSoftpotRestoreFactory) {
        ++state_.factoryRestores;
      }
      return Answer{kAccepted, {type}};
    }
    case RequestKind::FactoryBackup:
      state_.factoryBackedUp = true;
      return Answer{kAccepted, {0x26}};
    case RequestKind::SoftpotRead: {
      ByteWriter answer;
      answer.u8(0x31).u8(0x00).append(state_.config.privateId);
      return Answer{kSoftpotReadAnswer, answer.take()};
    }
    case RequestKind::StatusQuery:
      return statusItem(payload[0]);
    case RequestKind::SerialNumber:
      state_.config.serialNumber.assign(payload.begin() + 2, payload.end());
      return Answer{kAccepted, {0x18}};
    case RequestKind::Protection:
      state_.protectionMode = static_cast<std::uint16_t>(payload[2] << 8 | payload[3]);
      return Answer{kFlashAccepted, {0x08}};
    case RequestKind::EraseFlash:
      return eraseFlash(payload[0], address24(payload.subspan(1)));
    case RequestKind::WriteFlash:
      return writeFlash(address24(payload.subspan(1)), payload.subspan(4));
    case RequestKind::ContactRead:
      return readContact(payload[2]);
    case RequestKind::ContactWrite:
      return writeContact(payload[2], payload[3], payload.subspan(4));
    case RequestKind::ContactRestore:
      ++state_.contactRestores;
      return Answer{kContactAnswer, {kContactAccepted}};
    case RequestKind::Probe:
      return std::nullopt;
    case RequestKind::BootLoad:
      state_.bootLoad = true;
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<SimRadio::Answer> SimRadio::statusItem(std::uint8_t type) const {
  ByteWriter answer;
  answer.u8(type).u8(0x00);
  switch (type) {
    case 0x0D:
      answer.u8(state_.config.keypadKind);
      break;
    case 0x00:
      answer.append(state_.config.modelNumber);
      break;
    case 0x03:
      answer.append(state_.config.firmwareVersion);
      break;
    case 0x08:
      answer.append(state_.config.keypadVersion);
      break;
    case 0x04:
      answer.append(state_.config.codeplugVersion);
      break;
    case 0x01:
      answer.append(state_.config.serialNumber);
      break;
    default:
      return std::nullopt;
  }
  return Answer{kStatusAnswer, answer.take()};
}

std::optional<SimRadio::Answer> SimRadio::eraseFlash(std::uint8_t type, std::uint32_t address) {
  std::uint32_t unit = 0;
  if (type == kEraseType64K) {
    unit = kEraseUnit64K;
  } else if (type == kEraseType4K) {
    unit = kEraseUnit4K;
  } else {
    return std::nullopt;
  }
  const std::uint32_t start = address & ~(unit - 1);
  if (start + unit > kFlashSize) {
    return Answer{kRefusedOpcode, {0x00}};
  }
  std::fill_n(state_.flash.begin() + start, unit, 0xFF);
  // The dynamic block lives in that flash: erasing its unit wipes it.
  const auto dyn = dynFlashAddress(state_.config.flashLayout);
  if (dyn && *dyn >= start && *dyn < start + unit) {
    fillDyn(0xFF);
  }
  return Answer{kFlashAccepted, {type}};
}

std::optional<SimRadio::Answer> SimRadio::writeFlash(std::uint32_t address,
                                                     std::span<const std::uint8_t> data) {
  if (address + data.size() > kFlashSize) {
    return Answer{kRefusedOpcode, {0x00}};
  }
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::uint8_t& cell = state_.flash[address + i];
    if (cell != 0xFF) {
      ++state_.flashOverwrites;
    }
    // NOR flash only clears bits; only an erase sets them again.
    cell &= data[i];
  }
  return Answer{kFlashAccepted, {0x01}};
}

std::optional<SimRadio::Answer> SimRadio::readContact(std::uint8_t index) const {
  if (state_.contacts.empty()) {
    return Answer{kContactAnswer, {kContactAnswered, kContactReadCode, 0x00, 0xFF}};
  }
  std::vector<std::uint8_t> answer{kContactAnswered, kContactReadCode, index,
                                   static_cast<std::uint8_t>(state_.contacts.size())};
  if (index < state_.contacts.size()) {
    answer.insert(answer.end(), state_.contacts[index].begin(), state_.contacts[index].end());
  }
  return Answer{kContactAnswer, std::move(answer)};
}

std::optional<SimRadio::Answer> SimRadio::writeContact(std::uint8_t index, std::uint8_t total,
                                                       std::span<const std::uint8_t> record) {
  // Positions count from 1 and must lie within the announced total.
  if (index == 0 || index > total) {
    return Answer{kContactAnswer, {kContactRefused, kContactWriteCode, index}};
  }
  state_.contacts.resize(total);
  state_.contacts[index - 1].assign(record.begin(), record.end());
  return Answer{kContactAnswer, {kContactAccepted, kContactWriteCode, index}};
}

void SimRadio::emit(const std::optional<Answer>& answer, std::optional<FaultKind> fault) {
  if (fault == FaultKind::NoAcknowledge) {
    output_.push_back(0x00);
    return;
  }
  if (fault == FaultKind::Silence) {
    return;
  }
  if (fault == FaultKind::Refused) {
    const std::array<std::uint8_t, 2> refusal{0x00, 0x00};
    const std::vector<std::uint8_t> frame = answerFrame(kRefusedOpcode, refusal);
    output_.push_back(kAcknowledgement);
    output_.insert(output_.end(), frame.begin(), frame.end());
    return;
  }
  if (!answer) {
    if (fault == FaultKind::Disconnect) {
      disconnectPending_ = true;
    }
    return;
  }
  std::vector<std::uint8_t> frame = answerFrame(answer->opcode, answer->payload);
  output_.push_back(kAcknowledgement);
  if (!fault) {
    output_.insert(output_.end(), frame.begin(), frame.end());
    return;
  }
  switch (*fault) {
    case FaultKind::BadChecksum:
      frame.back() ^= 0x01;
      break;
    case FaultKind::WrongOpcode:
      frame[1] = answer->opcode == kRefusedOpcode ? kAccepted : kRefusedOpcode;
      frame.back() = frameChecksum(std::span(frame).first(frame.size() - 1));
      break;
    case FaultKind::JunkBeforeFrame:
      output_.insert(output_.end(), kJunk.begin(), kJunk.end());
      break;
    case FaultKind::Disconnect:
      frame.resize(frame.size() / 2);
      disconnectPending_ = true;
      break;
    case FaultKind::NoAcknowledge:
    case FaultKind::Silence:
    case FaultKind::Refused:
      break;
  }
  output_.insert(output_.end(), frame.begin(), frame.end());
}

void SimRadio::fillDyn(std::uint8_t value) {
  for (std::uint32_t i = 0; i < state_.config.dynSize; ++i) {
    setMemoryByte(state_.config.dynStart + i, value);
  }
}

std::uint8_t SimRadio::memoryByte(std::uint32_t address) const {
  address &= kAddressMask;
  const auto page = state_.memoryPages.find(address / kPageSize);
  return page == state_.memoryPages.end() ? 0 : page->second[address % kPageSize];
}

void SimRadio::setMemoryByte(std::uint32_t address, std::uint8_t value) {
  address &= kAddressMask;
  auto& page = state_.memoryPages[address / kPageSize];
  if (page.empty()) {
    page.resize(kPageSize);
  }
  page[address % kPageSize] = value;
}

std::vector<std::uint8_t> SimRadio::takeOutput() {
  std::lock_guard lock(mutex_);
  std::vector<std::uint8_t> out;
  out.swap(output_);
  return out;
}

std::size_t SimRadio::pendingOutput() const {
  std::lock_guard lock(mutex_);
  return output_.size();
}

void SimRadio::clearOutput() {
  std::lock_guard lock(mutex_);
  output_.clear();
}

bool SimRadio::takeDisconnect() {
  std::lock_guard lock(mutex_);
  return std::exchange(disconnectPending_, false);
}

void SimRadio::clearInput() {
  std::lock_guard lock(mutex_);
  assembler_.clear();
}

SimRadioConfig SimRadio::config() const {
  std::lock_guard lock(mutex_);
  return state_.config;
}

void SimRadio::setConfig(const SimRadioConfig& config) {
  std::lock_guard lock(mutex_);
  state_.config = config;
}

void SimRadio::setFaultPlan(FaultPlan plan) {
  std::lock_guard lock(mutex_);
  faultPlan_ = std::move(plan);
}

void SimRadio::setRequestObserver(
    std::function<void(const LoggedRequest&, std::optional<FaultKind>)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

std::uint32_t SimRadio::currentBaud() const {
  std::lock_guard lock(mutex_);
  return state_.baud;
}

void SimRadio::setCurrentBaud(std::uint32_t baud) {
  std::lock_guard lock(mutex_);
  state_.baud = baud;
}

SimTestMode SimRadio::testMode() const {
  std::lock_guard lock(mutex_);
  return state_.testMode;
}

void SimRadio::setTestMode(SimTestMode mode) {
  std::lock_guard lock(mutex_);
  state_.testMode = mode;
}

std::optional<std::uint16_t> SimRadio::protectionMode() const {
  std::lock_guard lock(mutex_);
  return state_.protectionMode;
}

bool SimRadio::factoryBackedUp() const {
  std::lock_guard lock(mutex_);
  return state_.factoryBackedUp;
}

void SimRadio::setFactoryBackedUp(bool backedUp) {
  std::lock_guard lock(mutex_);
  state_.factoryBackedUp = backedUp;
}

bool SimRadio::bootLoadMode() const {
  std::lock_guard lock(mutex_);
  return state_.bootLoad;
}

void SimRadio::setBootLoadMode(bool on) {
  std::lock_guard lock(mutex_);
  state_.bootLoad = on;
  state_.bootLoaderInput.clear();
}

int SimRadio::keypadProgrammingCount() const {
  std::lock_guard lock(mutex_);
  return state_.keypadProgrammings;
}

int SimRadio::factoryRestoreCount() const {
  std::lock_guard lock(mutex_);
  return state_.factoryRestores;
}

int SimRadio::blockResetCount() const {
  std::lock_guard lock(mutex_);
  return state_.blockResets;
}

int SimRadio::contactRestoreCount() const {
  std::lock_guard lock(mutex_);
  return state_.contactRestores;
}

// The simulated radio has no firmware of its own to ask for its version, so after a hard
// reset it takes the versions from what is programmed: the firmware version from the header
// value of an image at 0x10000 (the version word: letter, major, minor, patch from its low
// byte up, as orvik-pack writes it), the codeplug version from a "<model> DEF Rnn.nn.nn"
// marker at the start of the default block. Flash without them leaves the versions alone.
void SimRadio::takeVersionsFromFlash() {
  const std::vector<std::uint8_t>& flash = state_.flash;
  constexpr std::uint32_t kImage = 0x10000;
  if (flash.size() >= kImage + 6 && flash[kImage] == 0x09 && flash[kImage + 1] == 0xAA) {
    const std::uint8_t letter = flash[kImage + 5];
    if (std::isalpha(letter) != 0) {
      state_.config.firmwareVersion = {letter, flash[kImage + 4], flash[kImage + 3],
                                       flash[kImage + 2]};
    }
  }
  const std::uint32_t def = state_.config.flashLayout == 0 ? 0x64000 : 0x84000;
  if (flash.size() < def + 64) {
    return;
  }
  const std::string head(flash.begin() + def, flash.begin() + def + 64);
  const std::size_t marker = head.find(" DEF ");
  if (marker == std::string::npos) {
    return;
  }
  const std::string text = head.substr(marker + 5, 9);
  if (const auto record = parseVersionRecord(text)) {
    state_.config.codeplugVersion = *record;
  }
}

std::vector<std::uint8_t> SimRadio::flashBytes(std::uint32_t address, std::size_t count) const {
  std::lock_guard lock(mutex_);
  if (address >= state_.flash.size()) {
    return {};
  }
  const std::size_t n = std::min<std::size_t>(count, state_.flash.size() - address);
  return {state_.flash.begin() + address, state_.flash.begin() + address + n};
}

void SimRadio::setFlashBytes(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < bytes.size() && address + i < state_.flash.size(); ++i) {
    state_.flash[address + i] = bytes[i];
  }
}

std::size_t SimRadio::flashOverwrites() const {
  std::lock_guard lock(mutex_);
  return state_.flashOverwrites;
}

std::vector<std::uint8_t> SimRadio::memoryBytes(std::uint32_t address, std::size_t count) const {
  std::lock_guard lock(mutex_);
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i] = memoryByte(address + static_cast<std::uint32_t>(i));
  }
  return bytes;
}

void SimRadio::setMemoryBytes(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    setMemoryByte(address + static_cast<std::uint32_t>(i), bytes[i]);
  }
}

std::vector<std::vector<std::uint8_t>> SimRadio::contacts() const {
  std::lock_guard lock(mutex_);
  return state_.contacts;
}

void SimRadio::setContacts(std::vector<std::vector<std::uint8_t>> contacts) {
  std::lock_guard lock(mutex_);
  state_.contacts = std::move(contacts);
}

std::vector<LoggedRequest> SimRadio::requests() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::vector<LoggedRequest> SimRadio::requestsOf(RequestKind kind) const {
  std::lock_guard lock(mutex_);
  std::vector<LoggedRequest> matching;
  std::copy_if(log_.begin(), log_.end(), std::back_inserter(matching),
               [kind](const LoggedRequest& r) { return r.kind == kind; });
  return matching;
}

std::vector<RequestKind> SimRadio::requestKinds() const {
  std::lock_guard lock(mutex_);
  std::vector<RequestKind> kinds;
  kinds.reserve(log_.size());
  for (const LoggedRequest& r : log_) {
    kinds.push_back(r.kind);
  }
  return kinds;
}

int SimRadio::count(RequestKind kind) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(log_.begin(), log_.end(),
                                        [kind](const LoggedRequest& r) { return r.kind == kind; }));
}

void SimRadio::clearLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
  occurrences_.fill(0);
  unrecognised_.clear();
}

std::vector<std::vector<std::uint8_t>> SimRadio::unrecognised() const {
  std::lock_guard lock(mutex_);
  return unrecognised_;
}

std::size_t SimRadio::badChecksumFrames() const {
  std::lock_guard lock(mutex_);
  return assembler_.badChecksumFrames();
}

}  // namespace orvik
