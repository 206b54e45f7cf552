// Two measures of an update against the simulated radio.
//
// BM_FullUpdateLargestImage: a full update (the largest firmware image the radio takes, 448 KiB
// from 0x10000 to 0x80000; the default block; the personality with contacts) in process. Besides
// the host time it reports what the run puts on the cable, and from that the time the update would
// take at the link's 57600 baud:
//   estimate   = wire bytes × 10 / baud + exchanges × latency + fixed waits
//   wire limit = image bytes × 10 / baud + fixed waits
// with a per-exchange latency of 1 ms (a low-latency converter) and 16 ms (the converter's
// default latency timer).
//
// BM_FirmwareUpdateAtLineTime: a firmware update of a 440 KiB image through the tty backend
// against orvik-radio-sim --line-rate 57600 --latency 1 on a pty, in real time (about 80 s),
// against the limit the line sets:
//   limit = every exchange's bytes both ways × 10 / 57600 + 1 ms per exchange + fixed waits
//
//   build/bench/update_bench --benchmark_min_time=3
#include <benchmark/benchmark.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "commands/cmd_program.h"
#include "errors/error_text.h"
#include "exec/radio_manager.h"
#include "link/tty_cable_driver.h"
#include "pack/demo_package.h"
#include "pack/image_builder.h"
#include "pack/kxk_builder.h"
#include "pack/pack_files.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"

namespace {

using namespace orvik;

constexpr double kBaud = 57600.0;
constexpr double kBitsPerByte = 10.0;  // start, 8 data, stop
constexpr std::uint32_t kDynAddress = 0x820000;
constexpr std::uint32_t kDynSize = 0x1000;

// Counts what crosses the cable in each direction, passing every call on.
class CountingCable : public CableDriver {
 public:
  explicit CountingCable(CableDriver& inner) : inner_(inner) {}

  std::uint64_t sent = 0;
  std::uint64_t received = 0;
  std::uint64_t exchanges = 0;

  FT_STATUS listDeviceCount(std::uint32_t& count) override { return inner_.listDeviceCount(count); }
  FT_STATUS listDescription(std::uint32_t index, CableDescription& description) override {
    return inner_.listDescription(index, description);
  }
  std::uint32_t lastError() override { return inner_.lastError(); }
  FT_STATUS open(int index, FT_HANDLE& handle) override { return inner_.open(index, handle); }
  FT_STATUS getComPortNumber(FT_HANDLE handle, std::int32_t& comPort) override {
    return inner_.getComPortNumber(handle, comPort);
  }
  FT_STATUS close(FT_HANDLE handle) override { return inner_.close(handle); }
  FT_STATUS setBaudRate(FT_HANDLE handle, std::uint32_t baud) override {
    return inner_.setBaudRate(handle, baud);
  }
  FT_STATUS setDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                   std::uint8_t parity) override {
    return inner_.setDataCharacteristics(handle, wordLength, stopBits, parity);
  }
  FT_STATUS setFlowControl(FT_HANDLE handle, std::uint16_t flow, std::uint8_t xon,
                           std::uint8_t xoff) override {
    return inner_.setFlowControl(handle, flow, xon, xoff);
  }
  FT_STATUS setTimeouts(FT_HANDLE handle, std::uint32_t readMs, std::uint32_t writeMs) override {
    return inner_.setTimeouts(handle, readMs, writeMs);
  }
  FT_STATUS purge(FT_HANDLE handle, std::uint32_t mask) override {
    // Every exchange starts by purging both queues.
    if (mask == (FT_PURGE_RX | FT_PURGE_TX)) {
      ++exchanges;
    }
    return inner_.purge(handle, mask);
  }
  FT_STATUS read(FT_HANDLE handle, std::uint8_t* buffer, std::uint32_t toRead,
                 std::uint32_t& got) override {
    const FT_STATUS status = inner_.read(handle, buffer, toRead, got);
    received += got;
    return status;
  }
  FT_STATUS write(FT_HANDLE handle, const std::uint8_t* buffer, std::uint32_t toWrite,
                  std::uint32_t& written) override {
    const FT_STATUS status = inner_.write(handle, buffer, toWrite, written);
    sent += written;
    return status;
  }

 private:
  CableDriver& inner_;
};

double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The demo package with its firmware replaced by an image of about the given size, for the
// whole run.
class Package {
 public:
  explicit Package(std::size_t imageLength) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvik-update-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::abort();
    }
    folder_ = pattern;
    std::ostringstream out;
    std::string error;
    if (!writeDemoPackage(folder_, folder_ / "setup.dat", out, error)) {
      std::cerr << error << "\n";
      std::abort();
    }
    std::vector<std::uint8_t> binary(imageLength - 64);
    std::uint32_t state = 2024;
    for (auto& b : binary) {
      state = state * 1664525u + 1013904223u;
      b = static_cast<std::uint8_t>(state >> 24);
    }
    ImageOptions options;
    options.tableEntries = {0x00010000};
    options.sectionBytes = kMaxSectionBytes;
    const auto image = buildFirmwareImage(binary, options, error);
    KxkContents firmware;
    firmware.type = kKxkRegionFile;
    firmware.version = PackVersion{'R', 1, 3, 0};
    firmware.internalName = "LACR_FW";
    firmware.regionName = "LACR";
    if (image) {
      imageBytes_ = image->size();
      firmware.body = *image;
    }
    const auto bytes = buildKxkFile(firmware, error);
    if (!image || !bytes || !writePackFile(firmwareFile(), *bytes, error)) {
      std::cerr << error << "\n";
      std::abort();
    }
  }
  ~Package() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::filesystem::path firmwareFile() const { return folder_ / "fw_bench.kxk"; }
  std::filesystem::path addressMapFile() const { return folder_ / "addr_r010400.kxk"; }
  std::filesystem::path codeplugFile() const { return folder_ / "la26ckn9ar1_def_r010400.kxk"; }
  std::filesystem::path backupFolder() const { return folder_ / "backup"; }
  std::size_t imageBytes() const { return imageBytes_; }

 private:
  std::filesystem::path folder_;
  std::size_t imageBytes_ = 0;
};

std::vector<std::vector<std::uint8_t>> contacts() {
  std::vector<std::vector<std::uint8_t>> records;
  for (std::uint8_t i = 0; i < 20; ++i) {
    std::vector<std::uint8_t> record(32, i);
    record[7] = static_cast<std::uint8_t>(i % 4 + 1);
    records.push_back(record);
  }
  return records;
}

void BM_FullUpdateLargestImage(benchmark::State& state) {
  // The firmware region runs from 0x10000 to 0x80000.
  static const Package package(0x70000);
  std::uint64_t sent = 0;
  std::uint64_t received = 0;
  std::size_t exchanges = 0;
  double waits = 0;
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    SimRadio radio;
    radio.setContacts(contacts());
    VirtualClock clock;
    SimCableDriver sim(radio, clock);
    CountingCable cable(sim);
    RadioManager manager(cable, clock);
    RadioInfo& info = *manager.radioInfo();
    if (!manager.connect(true) || !info.readIdentity()) {
      state.SkipWithError("no radio");
      return;
    }
    radio.clearLog();
    cable.sent = cable.received = 0;
    removeErrors(ErrorCategory::OK);
    CmdProgram command;
    command.radioInfo = &info;
    command.setFirmwareFile(package.firmwareFile());
    command.setAddressMapFile(package.addressMapFile());
    command.setCodeplugFile(package.codeplugFile());
    command.requestFirmwareSteps();
    command.requestCodeplugStep();
    command.requestPersonalitySteps();
    const PersonalityBlock blocks[] = {{DYN, kDynAddress, kDynSize}};
    command.setPersonalityBlocks(blocks);
    command.backupFolder = package.backupFolder();
    state.ResumeTiming();

    const double before = cpuSeconds();
    const bool ok = command.execute();
    cpu += cpuSeconds() - before;

    state.PauseTiming();
    if (!ok) {
      state.SkipWithError(joinedErrorText().c_str());
      return;
    }
    sent = cable.sent;
    received = cable.received;
    exchanges = radio.requests().size();
    waits = 0;
    for (const auto sleep : clock.sleeps()) {
      waits += static_cast<double>(sleep.count()) / 1000.0;
    }
    state.ResumeTiming();
  }

  const double wire = static_cast<double>(sent + received) * kBitsPerByte / kBaud;
  const double limit = static_cast<double>(package.imageBytes()) * kBitsPerByte / kBaud + waits;
  const double iterations = static_cast<double>(state.iterations());
  const double mib = static_cast<double>(package.imageBytes()) / (1024.0 * 1024.0);
  state.counters["image_bytes"] = static_cast<double>(package.imageBytes());
  state.counters["wire_bytes_to_radio"] = static_cast<double>(sent);
  state.counters["wire_bytes_from_radio"] = static_cast<double>(received);
  state.counters["exchanges"] = static_cast<double>(exchanges);
  state.counters["fixed_waits_s"] = waits;
  state.counters["est_s_1ms"] = wire + static_cast<double>(exchanges) * 0.001 + waits;
  state.counters["est_s_16ms"] = wire + static_cast<double>(exchanges) * 0.016 + waits;
  state.counters["wire_limit_s"] = limit;
  state.counters["cpu_ms_per_MiB"] = cpu / iterations / mib * 1000.0;
  state.SetBytesProcessed(static_cast<std::int64_t>(package.imageBytes()) * state.iterations());
}
BENCHMARK(BM_FullUpdateLargestImage)->Unit(benchmark::kMillisecond);

// The system clock, counting the fixed waits it is asked for.
class WaitCountingClock : public Clock {
 public:
  std::chrono::milliseconds now() override { return systemClock().now(); }
  void sleep(std::chrono::milliseconds duration) override {
    waited += duration;
    systemClock().sleep(duration);
  }
  void sleep(std::chrono::milliseconds duration, std::stop_token stop) override {
    systemClock().sleep(duration, stop);
  }
  std::chrono::milliseconds waited{0};
};

// orvik-radio-sim beside this program's folder, serving until destroyed.
class RadioSimProcess {
 public:
  explicit RadioSimProcess(const std::vector<std::string>& options) {
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
    const std::string program = (self.parent_path().parent_path() / "bin" / "orvik-radio-sim");
    std::vector<std::string> arguments{program};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) {
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const int spawned =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
      pid_ = -1;
      close(out[0]);
      return;
    }
    // The first line is the pty to open.
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
      path_ += c;
    }
    close(out[0]);
  }
  ~RadioSimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  RadioSimProcess(const RadioSimProcess&) = delete;
  RadioSimProcess& operator=(const RadioSimProcess&) = delete;

  const std::string& path() const { return path_; }

 private:
  pid_t pid_ = -1;
  std::string path_;
};

void BM_FirmwareUpdateAtLineTime(benchmark::State& state) {
  constexpr std::size_t kImageLength = 440 * 1024;
  static const Package package(kImageLength);
  double seconds = 0;
  double limit = 0;
  std::uint64_t exchanges = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const RadioSimProcess sim({"--line-rate", "57600", "--latency", "1", "--layout", "1"});
    if (sim.path().empty()) {
      state.SkipWithError("orvik-radio-sim did not start");
      return;
    }
    WaitCountingClock clock;
    TtyCableDriver tty(TtyCableDriver::Options{.overridePath = sim.path()});
    CountingCable cable(tty);
    RadioManager manager(cable, clock);
    RadioInfo& info = *manager.radioInfo();
    if (!manager.connect(true) || !info.readIdentity()) {
      state.SkipWithError("no radio on the pty");
      return;
    }
    cable.sent = cable.received = cable.exchanges = 0;
    clock.waited = std::chrono::milliseconds(0);
    removeErrors(ErrorCategory::OK);
    CmdProgram command;
    command.radioInfo = &info;
    command.setFirmwareFile(package.firmwareFile());
    command.setAddressMapFile(package.addressMapFile());
    command.requestFirmwareSteps();
    command.keepPersonality = false;
    command.backupFolder = package.backupFolder();
    state.ResumeTiming();

    const auto before = std::chrono::steady_clock::now();
    const bool ok = command.execute();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - before;

    state.PauseTiming();
    if (!ok) {
      state.SkipWithError(joinedErrorText().c_str());
      return;
    }
    seconds = took.count();
    exchanges = cable.exchanges;
    limit = static_cast<double>(cable.sent + cable.received) * kBitsPerByte / kBaud +
            static_cast<double>(exchanges) * 0.001 +
            static_cast<double>(clock.waited.count()) / 1000.0;
    manager.disconnect();
    state.ResumeTiming();
  }
  state.counters["image_bytes"] = static_cast<double>(kImageLength);
  state.counters["exchanges"] = static_cast<double>(exchanges);
  state.counters["wall_s"] = seconds;
  state.counters["limit_s"] = limit;
  state.counters["over_limit_pct"] = (seconds / limit - 1.0) * 100.0;
}
BENCHMARK(BM_FirmwareUpdateAtLineTime)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
