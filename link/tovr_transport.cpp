#include <algorithm>
#include <optional>
#include <vector>

#include "errors/error_text.h"
#include "link/tovr.h"
#include "link/tovr_frame.h"

namespace orvik {
namespace {

constexpr std::array<std::uint8_t, 3> kProbeFrame{0xF1, 0x40, 0xCE};
constexpr std::uint32_t kProbeReadTimeout = 20;
constexpr std::uint32_t kProbeWriteTimeout = 300;
constexpr std::chrono::milliseconds kAfterSendOnly{1};

// How one exchange waits, by its request: the attempts per port transfer, the attempts for
// each of the answer's first bytes, and the port's time-outs; what a row leaves unset stays as
// it is.
struct ExchangeTiming {
  struct Timeouts {
    std::uint32_t readMs;
    std::uint32_t writeMs;
  };
  std::uint8_t opcode;
  // Only parameter writes of this type, when set.
  std::optional<std::uint8_t> parameterType;
  std::optional<int> trials;
  std::optional<int> responseTrials;
  std::optional<Timeouts> timeouts;
};

constexpr ExchangeTiming kExchangeTimings[] = {
    {kResetRequest, std::nullopt, 500, 4, ExchangeTiming::Timeouts{600, 200}},
    {kQueryRequest, std::nullopt, std::nullopt, 1, ExchangeTiming::Timeouts{100, 300}},
    // The radio takes its time over these parameter writes.
    {kParameterWriteRequest, kResetAllBlocksParameter, std::nullopt, 100, std::nullopt},
    {kParameterWriteRequest, kBaudRateParameter, std::nullopt, 100, std::nullopt},
    {kFlashRequest, std::nullopt, std::nullopt, std::nullopt, ExchangeTiming::Timeouts{300, 3000}},
};
constexpr ExchangeTiming kOtherExchangeTiming{0, std::nullopt, std::nullopt, std::nullopt,
                                              ExchangeTiming::Timeouts{250, 300}};

// The time bytes take on the line at the rate: a start bit, eight data bits and a stop bit
// each; rounded up.
std::chrono::milliseconds lineTime(std::size_t bytes, std::uint32_t baud) {
  constexpr std::uint64_t kBitsPerByte = 10;
  if (baud == 0) {
    return std::chrono::milliseconds(0);
  }
  return std::chrono::milliseconds((bytes * kBitsPerByte * 1000 + baud - 1) / baud);
}

// Restores the engine's attempt counts on every way out of an exchange.
class TrialsGuard {
 public:
  TrialsGuard(int& trials, int& responseTrials)
      : trials_(trials),
        responseTrials_(responseTrials),
        savedTrials_(trials),
        savedResponseTrials_(responseTrials) {}
  ~TrialsGuard() {
    trials_ = savedTrials_;
    responseTrials_ = savedResponseTrials_;
  }
  TrialsGuard(const TrialsGuard&) = delete;
  TrialsGuard& operator=(const TrialsGuard&) = delete;

 private:
  int& trials_;
  int& responseTrials_;
  int savedTrials_;
  int savedResponseTrials_;
};

}  // namespace

TOVR::TOVR(USBSerial& port) : port_(port) {}

std::uint8_t TOVR::checksum(int count, const std::uint8_t* bytes) {
  if (bytes == nullptr || count <= 0) {
    return 0xFF;
  }
  return orvik::checksum(std::span(bytes, static_cast<std::size_t>(count)));
}

void TOVR::traceFrame(std::string_view direction, std::span<const std::uint8_t> bytes,
                      std::string_view note) {
  if (trace_ != nullptr) {
    trace_->frame(direction, bytes, note);
  }
}

int TOVR::readBytes(int n, std::uint8_t* dest) {
  if (n > 0 && dest != nullptr && port_.usable()) {
    for (int attempt = 0; attempt < trials_; ++attempt) {
      if (port_.read(dest, static_cast<std::uint32_t>(n)) == static_cast<std::uint32_t>(n)) {
        return n;
      }
    }
  }
  appendError(ErrorCategory::PROT, "Error:failed to read port for %d bytes after %d trials.", n,
              trials_);
  return -1;
}

int TOVR::writeBytes(const std::uint8_t* src, int n) {
  if (!port_.usable() || src == nullptr || n <= 0) {
    return -1;
  }
  for (int attempt = 0; attempt < trials_; ++attempt) {
    if (port_.write(src, static_cast<std::uint32_t>(n)) != static_cast<std::uint32_t>(n)) {
      continue;
    }
    if (echoOn_) {
      // The cable hands every byte back; swallow them before the answer is awaited.
      const auto count = static_cast<std::size_t>(n);
      if (count <= receiveBuffer_.size()) {
        readBytes(n, receiveBuffer_.data());
        traceFrame("ECHO", std::span(receiveBuffer_).first(count));
      } else {
        std::vector<std::uint8_t> echo(count);
        readBytes(n, echo.data());
      }
    }
    return n;
  }
  appendError(ErrorCategory::PROT, "Error:failed to write port with %d bytes after %d trials.", n,
              trials_);
  return -1;
}

void TOVR::applyTiming(std::span<const std::uint8_t> request) {
  const std::uint8_t opcode = requestOpcode(request);
  const auto matches = [&](const ExchangeTiming& row) {
    return row.opcode == opcode &&
           (!row.parameterType || (request.size() > 4 && request[4] == *row.parameterType));
  };
  const auto* found =
      std::find_if(std::begin(kExchangeTimings), std::end(kExchangeTimings), matches);
  const ExchangeTiming& timing =
      found != std::end(kExchangeTimings) ? *found : kOtherExchangeTiming;
  if (timing.trials) {
    trials_ = *timing.trials;
  }
  if (timing.responseTrials) {
    responseTrials_ = *timing.responseTrials;
  }
  if (timing.timeouts) {
    port_.setTimeouts(timing.timeouts->readMs, timing.timeouts->writeMs);
  }
}

int TOVR::exchange(std::span<const std::uint8_t> request, std::uint32_t& address,
                   std::uint8_t& opcode, std::span<std::uint8_t> data) {
  TrialsGuard guard(trials_, responseTrials_);
  if (!port_.usable() || request.empty()) {
    return -1;
  }
  port_.purge(FT_PURGE_RX | FT_PURGE_TX);
  applyTiming(request);
  // However the radio dribbles bytes, the exchange ends within the time the longest answer
  // takes on the line plus the waits the protocol grants: the full wait for each of the two
  // first bytes (acknowledgement and frame start), and one more gap. The request (and its
  // echo) must have crossed the line before all that.
  const std::uint32_t baud = port_.baudRate();
  const auto crossing = lineTime(request.size(), baud) * (echoOn_ ? 2 : 1);
  const auto patience = std::chrono::milliseconds(std::int64_t{port_.readTimeout()} *
                                                  (2 * responseTrials_ + trials_));
  const auto deadline =
      port_.clock().now() + crossing + lineTime(kReceiveBufferSize, baud) + patience;
  const int length = static_cast<int>(request.size());
  if (writeBytes(request.data(), length) != length) {
    traceFrame("TX", request, "not sent");
    return -1;
  }
  traceFrame("TX", request);
  const int result = parseResponse(address, opcode, data, deadline);
  traceFrame("RX", received(), result < 0 ? "failed" : std::string_view{});
  return result;
}

int TOVR::parseResponse(std::uint32_t& address, std::uint8_t& opcode, std::span<std::uint8_t> data,
                        std::chrono::milliseconds deadline) {
  opcode = 0;
  address = 0;
  receiveBuffer_.fill(0);
  receivedCount_ = 0;
  const int patience = trials_;
  trials_ = responseTrials_;
  ResponseParser parser(data);
  while (!parser.finished()) {
    if (receivedCount_ == receiveBuffer_.size()) {
      // More bytes than any response may have.
      break;
    }
    std::uint8_t* next = &receiveBuffer_[receivedCount_];
    if (readBytes(1, next) != 1) {
      break;
    }
    ++receivedCount_;
    parser.feed(*next);
    if (parser.restoresTrials()) {
      trials_ = patience;
    }
    opcode = parser.opcode();
    address = parser.address();
    if (!parser.finished() && port_.clock().now() > deadline) {
      appendError(ErrorCategory::PROT, "Error:the answer did not end in time.");
      break;
    }
  }
  if (parser.state() != ResponseParser::State::Done) {
    return -1;
  }
  return static_cast<int>(parser.dataCount());
}

int TOVR::probeCableMode() {
  if (!port_.usable()) {
    return kProbeUndecided;
  }
  port_.setTimeouts(kProbeReadTimeout, kProbeWriteTimeout);
  for (int attempt = 0; attempt < trials_; ++attempt) {
    port_.purge(FT_PURGE_RX | FT_PURGE_TX);
    if (port_.write(kProbeFrame.data(), kProbeFrame.size()) < kProbeFrame.size()) {
      continue;
    }
    traceFrame("TX", kProbeFrame, "cable-mode probe");
    std::array<std::uint8_t, kProbeFrame.size()> back{};
    if (readBytes(static_cast<int>(back.size()), back.data()) < 0) {
      traceFrame("RX", {}, "no echo");
      echoOn_ = false;
      return kProbeNoEcho;
    }
    traceFrame("RX", back);
    if (back == kProbeFrame) {
      port_.purge(FT_PURGE_RX | FT_PURGE_TX);
      echoOn_ = true;
      return kProbeEcho;
    }
  }
  return kProbeUndecided;
}

int TOVR::sendOnly(std::span<const std::uint8_t, 3> frame) {
  std::copy(frame.begin(), frame.end(), transmitBuffer_.begin());
  if (!port_.usable()) {
    return -1;
  }
  int result = -1;
  for (int attempt = 0; attempt < trials_ && result != 3; ++attempt) {
    result = writeBytes(transmitBuffer_.data(), 3);
  }
  traceFrame("TX", frame, result == 3 ? "no answer awaited" : "not sent");
  port_.clock().sleep(kAfterSendOnly);
  return result == 3 ? 3 : -1;
}

}  // namespace orvik
