#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "link/frame_trace.h"
#include "link/usb_serial.h"

namespace orvik {

// The TOVR engine: one request frame out, one response in, over the cable port, with the
// protocol's timing and retry rules, and the radio operations built on it.
//
// Result convention: every operation returns -1 for failure and otherwise the number of data
// bytes of the last response, and hands back that response's opcode.
class TOVR {
 public:
  static constexpr std::size_t kReceiveBufferSize = 4109;
  static constexpr std::size_t kTransmitBufferSize = 4111;
  static constexpr int kDefaultTrials = 2;
  static constexpr int kDefaultMaxDataLength = 220;
  static constexpr std::size_t kMaxFlashPiece = 4096;
  static constexpr std::uint32_t kProbeBaudRate = 16406;
  static constexpr std::uint32_t kLinkBaudRate = 57600;

  // Answer opcodes the operations test.
  static constexpr std::uint8_t kMemoryRead = 0x80;
  static constexpr std::uint8_t kMemoryWritten = 0x84;
  static constexpr std::uint8_t kParameterRead = 0x8A;
  static constexpr std::uint8_t kAccepted = 0x8C;
  static constexpr std::uint8_t kFlashAccepted = 0x95;
  static constexpr std::uint8_t kContactAnswered = 0x41;

  // Result of probeCableMode.
  static constexpr int kProbeUndecided = 0;
  static constexpr int kProbeEcho = 1;
  static constexpr int kProbeNoEcho = 2;

  explicit TOVR(USBSerial& port);
  virtual ~TOVR() = default;
  TOVR(const TOVR&) = delete;
  TOVR& operator=(const TOVR&) = delete;

  // --- transport ---------------------------------------------------------------------------

  // Reads exactly n bytes into dest within `trials` attempts: n, or -1 with a line.
  int readBytes(int n, std::uint8_t* dest);
  // Sends n bytes within `trials` attempts (and swallows the echo when the cable echoes).
  int writeBytes(const std::uint8_t* src, int n);
  // One request and its response. address is set to 0, then to the address a response
  // carries; opcode to the response opcode; the data bytes go to data. Returns the data count
  // or -1.
  int exchange(std::span<const std::uint8_t> request, std::uint32_t& address, std::uint8_t& opcode,
               std::span<std::uint8_t> data);
  // Tells whether the cable echoes what is sent (1), does not (2), or neither is clear (0).
  int probeCableMode();
  // Sends a three-byte frame that gets no response: 3, or -1.
  int sendOnly(std::span<const std::uint8_t, 3> frame);
  static std::uint8_t checksum(int count, const std::uint8_t* bytes);

  // --- radio operations --------------------------------------------------------------------

  // Succeeds only on a memory-read answer that echoes the address asked for and carries
  // exactly the length asked for; address then holds the echoed address.
  int memRead(int length, std::uint32_t& address, std::uint8_t& opcode,
              std::span<std::uint8_t> answer);
  // Whether an answer (result, opcode, echoed address) is the one a memory read of length
  // bytes at requested asked for.
  static bool memReadAnswered(int length, std::uint32_t requested, int result, std::uint8_t opcode,
                              std::uint32_t echoed);
  int memWrite(std::span<const std::uint8_t> data, std::uint32_t& address, std::uint8_t& opcode,
               std::span<std::uint8_t> answer);
  int resetDevice(std::uint8_t type, std::uint8_t& opcode, std::span<std::uint8_t> answer);
  int requestTestMode(std::uint8_t type, std::uint8_t p0, std::uint8_t p1, std::uint8_t& opcode,
                      std::span<std::uint8_t> answer);
  int softpotWrite(std::uint8_t type, std::uint8_t index, std::span<const std::uint8_t> value,
                   std::uint8_t& opcode, std::span<std::uint8_t> answer);
  int softpotRead(std::uint8_t& opcode, std::span<std::uint8_t> answer);
  int statusQuery(std::uint8_t type, std::uint8_t& opcode, std::span<std::uint8_t> answer);
  int bootloadRequest();
  int radioBaudSwitch(std::uint8_t index, std::uint8_t& opcode, std::span<std::uint8_t> answer);
  int updateSerialNumber(std::span<const std::uint8_t> serial, std::uint8_t& opcode,
                         std::span<std::uint8_t> answer);
  int setProtectionMode(std::uint16_t mode, std::uint8_t& opcode, std::span<std::uint8_t> answer);
  int eraseFlash(std::uint8_t type, std::uint32_t& address, std::uint8_t& opcode,
                 std::span<std::uint8_t> answer);
  // Programs at most kMaxFlashPiece bytes of data.
  int writeFlash(std::span<const std::uint8_t> data, std::uint32_t& address, std::uint8_t& opcode,
                 std::span<std::uint8_t> answer);
  int backupFactoryBlock(std::uint8_t& opcode, std::span<std::uint8_t> answer);
  int contactCommand(std::uint8_t subCode, std::span<const std::uint8_t> data, std::uint8_t& opcode,
                     std::span<std::uint8_t> answer);
  // -1 no exchange or failed, -2 an empty answer, -3 not a contact answer, else the data count.
  int contactRestore(std::uint8_t& opcode, std::span<std::uint8_t> answer);
  int flashModeFollowUp(std::uint8_t& opcode, std::span<std::uint8_t> answer);

  // --- settings ----------------------------------------------------------------------------

  int trials() const { return trials_; }
  void setTrials(int trials) { trials_ = trials; }
  int responseTrials() const { return responseTrials_; }
  void setResponseTrials(int trials) { responseTrials_ = trials; }
  bool echoOn() const { return echoOn_; }
  int maxDataLength() const { return maxDataLength_; }
  USBSerial& port() { return port_; }
  // Every byte received in the last exchange, and how many.
  std::span<const std::uint8_t> received() const {
    return std::span(receiveBuffer_).first(receivedCount_);
  }
  // Frames go to this trace while it is enabled (none by default).
  void setTrace(FrameTrace* trace) { trace_ = trace; }

 private:
  // How one operation retries its exchange: the attempts, when an attempt succeeded, and
  // when an attempt ends the retries without success.
  struct RetryRule {
    int attempts;
    std::function<bool(int result, std::uint8_t opcode)> success;
    std::function<bool(int result, std::uint8_t opcode)> stop;
  };
  // Repeats the attempt until the rule says success or stop, or the attempts are used up;
  // the port-level lines of a failed attempt go before the next. Returns the last result.
  int retry(const RetryRule& rule, const std::function<int()>& attempt, std::uint8_t& opcode);
  // retry() with one exchange of the request as the attempt.
  int retryExchange(std::span<const std::uint8_t> request, const RetryRule& rule,
                    std::uint32_t& address, std::uint8_t& opcode, std::span<std::uint8_t> answer);
  int retryExchange(std::span<const std::uint8_t> request, const RetryRule& rule,
                    std::uint8_t& opcode, std::span<std::uint8_t> answer);
  // Reads one response; an answer still incomplete at the deadline (on the port's clock)
  // fails.
  int parseResponse(std::uint32_t& address, std::uint8_t& opcode, std::span<std::uint8_t> data,
                    std::chrono::milliseconds deadline);
  void applyTiming(std::span<const std::uint8_t> request);
  void traceFrame(std::string_view direction, std::span<const std::uint8_t> bytes,
                  std::string_view note = {});

  USBSerial& port_;
  FrameTrace* trace_ = nullptr;
  int trials_ = kDefaultTrials;
  int responseTrials_ = kDefaultTrials;
  bool echoOn_ = false;
  int maxDataLength_ = kDefaultMaxDataLength;
  std::array<std::uint8_t, kReceiveBufferSize> receiveBuffer_{};
  std::size_t receivedCount_ = 0;
  std::array<std::uint8_t, kTransmitBufferSize> transmitBuffer_{};
};

}  // namespace orvik
