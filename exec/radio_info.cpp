#include "exec/radio_info.h"

#include <algorithm>
#include <cctype>

#include "base/text.h"
#include "errors/error_text.h"

namespace orvik {
namespace {

// Line time-outs until the transport sets its own for each request.
constexpr std::uint32_t kInitialReadTimeout = 250;
constexpr std::uint32_t kInitialWriteTimeout = 300;

// Copies the answer data that follow the item's two leading bytes into the field, never more
// than the field holds; returns how many were copied.
std::size_t copyItem(std::span<const std::uint8_t> answer, int result,
                     std::span<std::uint8_t> field) {
  if (result < 2) {
    return 0;
  }
  const std::size_t available =
      std::min<std::size_t>(static_cast<std::size_t>(result) - 2, answer.size() - 2);
  const std::size_t n = std::min(available, field.size());
  std::copy_n(answer.begin() + 2, n, field.begin());
  return n;
}

// Opcodes under which the radio answers requests other than an identity query: met in an
// identity read, they are the answer to an earlier request.
bool answersAnotherRequest(std::uint8_t opcode) {
  return opcode == TOVR::kMemoryRead || opcode == 0x85 || opcode == TOVR::kMemoryWritten ||
         opcode == TOVR::kFlashAccepted || opcode == TOVR::kContactAnswered;
}

}  // namespace

RadioInfo::RadioInfo(CableDriver& driver, Clock& clock) : port_(driver, clock), engine_(port_) {}

RadioInfo::~RadioInfo() {
  closeCable();
}

bool RadioInfo::closeCable() {
  if (!connected && !port_.isOpen()) {
    return true;
  }
  // A port that is open without a connection (a connect that failed half-way) is closed too:
  // left open it would stay locked against every other program until the tool exits.
  const bool closed = port_.close();
  connected = false;
  identityValid = false;
  portIndex = -1;
  return closed;
}

bool RadioInfo::openCable(int index) {
  closeCable();
  if (!port_.open(index)) {
    return false;
  }
  if (!port_.setBaudRate(TOVR::kProbeBaudRate) || !port_.setDataCharacteristics() ||
      !port_.setFlowControl() || !port_.setTimeouts(kInitialReadTimeout, kInitialWriteTimeout)) {
    // The line is of no use; give the port back rather than hold it (and its lock) until the
    // next connect.
    port_.close();
    return false;
  }
  // A radio may still be answering the last request of a program that ended a moment ago
  // (killed in the middle of an update): that answer must not be taken for the probe's or
  // the identity's.
  waitForQuietLine(kQuietInterval);
  // Only the engine's echo setting matters here; the caller decides what to tell the user.
  engine_.probeCableMode();
  port_.setBaudRate(TOVR::kLinkBaudRate);
  portIndex = index;
  connected = true;
  return true;
}

void RadioInfo::waitForQuietLine(std::chrono::milliseconds quiet) {
  port_.waitForQuietLine(quiet, kQuietBound);
}

bool RadioInfo::readIdentity() {
  identityValid = connected;
  outOfStep_ = false;
  if (!connected) {
    return false;
  }
  std::array<std::uint8_t, kAnswerSize> answer{};
  std::uint8_t opcode = 0;
  // One item; a fresh answer buffer each time, so that a short answer cannot pass off the
  // rest of an earlier one as its own. An answer to another request counts as none.
  const auto query = [&](std::uint8_t item) {
    answer.fill(0);
    const int result = engine_.statusQuery(item, opcode, answer);
    if (result >= 0 && answersAnotherRequest(opcode)) {
      outOfStep_ = true;
      return -1;
    }
    return result;
  };

  // An answer shorter than the item's two leading bytes carries no data and stores nothing.
  const auto hasData = [](int result) { return result >= 2; };

  int result = query(kKeypadKindItem);
  if (result < 0) {
    return identityValid = false;
  }
  if (hasData(result)) {
    keypadKind = answer[2];
  }

  result = query(kModelItem);
  if (result < 0) {
    return identityValid = false;
  }
  if (hasData(result)) {
    std::copy_n(answer.begin() + 2, kModelSize, modelNumber.begin());
    regionCode = modelNumber[6] == 'N' ? 0 : 1;
  }

  const std::pair<std::uint8_t, VersionRecord*> versions[] = {
      {kFirmwareItem, &firmwareVersionRecord},
      {kKeypadVersionItem, &keypadVersionRecord},
      {kCodeplugItem, &codeplugVersionRecord},
  };
  for (const auto& [item, record] : versions) {
    result = query(item);
    if (result < 0) {
      return identityValid = false;
    }
    if (hasData(result)) {
      std::copy_n(answer.begin() + 2, kVersionRecordSize, record->begin());
    }
  }

  answer.fill(0);
  result = engine_.softpotRead(opcode, answer);
  if (result > 0 && opcode != TOVR::kParameterRead) {
    outOfStep_ = true;
  }
  if (result <= 0 || outOfStep_) {
    return identityValid = false;
  }
  if (hasData(result)) {
    privateId.fill(0);
    copyItem(answer, result, privateId);
  }

  result = query(kSerialItem);
  if (result < 0) {
    return identityValid = false;
  }
  if (hasData(result)) {
    serialNumber.fill(0);
    serialLength = static_cast<std::int32_t>(copyItem(answer, result, serialNumber));
  }
  return identityValid;
}

std::optional<std::string> RadioInfo::serialText(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > kSerialSize) {
    return std::nullopt;
  }
  // Zero bytes pad a short number; they are not part of it.
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return latin1ToUtf8(std::span(bytes.begin(), end));
}

std::optional<std::string> RadioInfo::modelText(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kModelSize) {
    return std::nullopt;
  }
  std::string text;
  for (std::uint8_t b : bytes.first(kModelSize)) {
    if (b <= 15) {
      text.push_back(static_cast<char>('0' + b));
    } else if (std::isalpha(b) && b < 0x80) {
      text.push_back(static_cast<char>(b));
    } else {
      break;
    }
  }
  return text;
}

std::string RadioInfo::regionText(std::int8_t regionCode) {
  return formatText("%02d", regionCode);
}

std::optional<std::string> RadioInfo::versionRecordText(std::span<const std::uint8_t> record) {
  if (record.size() < kVersionRecordSize) {
    return std::nullopt;
  }
  if (record[0] == 0) {
    return std::string();  // never read: the text ends before it begins
  }
  const auto letter = static_cast<char>(std::toupper(record[0]));
  return formatText("%c%02d.%02d.%02d", letter, record[1], record[2], record[3]);
}

std::optional<std::string> RadioInfo::privateIdText(std::span<const std::uint8_t> privateId) {
  if (privateId.size() < 8) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (std::uint8_t b : privateId.first(8)) {
    value = value << 8 | b;
  }
  if (value == 0) {
    return std::nullopt;
  }
  return formatText("%lld", static_cast<long long>(value));
}

}  // namespace orvik
