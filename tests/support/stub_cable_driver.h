#pragma once

#include "link/cable_driver.h"

namespace orvik::testing {

// A cable driver that does nothing and never fails: one programming cable, any handle is its
// own, reads find nothing and writes take everything. Test cables override only the calls
// their test is about.
class StubCableDriver : public CableDriver {
 public:
  FT_STATUS listDeviceCount(std::uint32_t& count) override {
    count = 1;
    return FT_OK;
  }
  FT_STATUS listDescription(std::uint32_t, CableDescription& description) override {
    description.fill('\0');
    for (std::size_t i = 0; kCableDescription[i] != '\0' && i + 1 < description.size(); ++i) {
      description[i] = kCableDescription[i];
    }
    return FT_OK;
  }
  std::uint32_t lastError() override { return 0; }
  FT_STATUS open(int, FT_HANDLE& handle) override {
    handle = this;
    return FT_OK;
  }
  FT_STATUS getComPortNumber(FT_HANDLE, std::int32_t& comPort) override {
    comPort = 1;
    return FT_OK;
  }
  FT_STATUS close(FT_HANDLE) override { return FT_OK; }
  FT_STATUS setBaudRate(FT_HANDLE, std::uint32_t) override { return FT_OK; }
  FT_STATUS setDataCharacteristics(FT_HANDLE, std::uint8_t, std::uint8_t, std::uint8_t) override {
    return FT_OK;
  }
  FT_STATUS setFlowControl(FT_HANDLE, std::uint16_t, std::uint8_t, std::uint8_t) override {
    return FT_OK;
  }
  FT_STATUS setTimeouts(FT_HANDLE, std::uint32_t, std::uint32_t) override { return FT_OK; }
  FT_STATUS purge(FT_HANDLE, std::uint32_t) override { return FT_OK; }
  FT_STATUS read(FT_HANDLE, std::uint8_t*, std::uint32_t, std::uint32_t& received) override {
    received = 0;
    return FT_OK;
  }
  FT_STATUS write(FT_HANDLE, const std::uint8_t*, std::uint32_t toWrite,
                  std::uint32_t& written) override {
    written = toWrite;
    return FT_OK;
  }
};

}  // namespace orvik::testing
