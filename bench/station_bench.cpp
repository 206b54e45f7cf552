// The update station against 1, 4, 8 and 16 simulated radios that keep the time of a real line
// (orvik-radio-sim --line-rate 57600 --latency 1), each on a pty of its own, all updated at
// once by `orvik-cli station update --policy newer`. For each count:
//   wall_s                 from the station's start to its end
//   vs_one_radio           wall_s over the wall time of one radio (aim: at most 1.1 at 16)
//   station_cpu_pct_radio  the station's own CPU, in % of one core, per radio (aim: under 2)
//   worker_cpu_ms_radio    the CPU of one radio's worker process, the whole update
//   sim_cpu_ms_radio       the CPU of one simulated radio
// The package programs 32 KiB of firmware and a 16 KiB default block, with the personality
// kept: about ten seconds a radio on the line.
//
//   build/bench/station_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include "pack/demo_package.h"
#include "workflow/update_history.h"

namespace {

using namespace orvik;

std::filesystem::path binFolder() {
  return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "bin";
}

double childrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A program whose standard output the benchmark reads; standard error is dropped.
class Program {
 public:
  explicit Program(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = fdopen(out[0], "r");
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      wait();
    }
    if (out_ != nullptr) {
      fclose(out_);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  std::optional<std::string> line() {
    std::string text;
    int c = 0;
    while (out_ != nullptr && (c = fgetc(out_)) != EOF && c != '\n') {
      text.push_back(static_cast<char>(c));
    }
    if (c == EOF && text.empty()) {
      return std::nullopt;
    }
    return text;
  }
  int wait() {
    int status = 0;
    while (pid_ > 0 && waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

// The package and the per-machine folder, for the whole run.
class Machine {
 public:
  Machine() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvik-station-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::abort();
    }
    folder_ = pattern;
    std::ostringstream out;
    std::string error;
    if (!writeDemoPackage(package(), data() / "data" / "setup.dat", out, error,
                          DemoPackageSizes{32 * 1024, 16 * 1024})) {
      std::cerr << error << "\n";
      std::abort();
    }
  }
  ~Machine() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::filesystem::path package() const { return folder_ / "package"; }
  std::filesystem::path data() const { return folder_ / "machine"; }

 private:
  std::filesystem::path folder_;
};

std::map<int, double>& wallTimes() {
  static std::map<int, double> times;
  return times;
}

void BM_StationAtLineTime(benchmark::State& state) {
  static const Machine machine;
  const int radios = static_cast<int>(state.range(0));
  std::map<std::string, std::string> end;
  double wall = 0;
  double simCpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::error_code ignored;
    std::filesystem::remove_all(machine.data() / "backup", ignored);
    std::filesystem::remove_all(machine.data() / "journal", ignored);
    const double childrenBefore = childrenCpuSeconds();
    std::vector<std::string> arguments{(binFolder() / "orvik-cli").string(),
                                       "--package",
                                       machine.package().string(),
                                       "--data-dir",
                                       machine.data().string(),
                                       "station",
                                       "update",
                                       "--policy",
                                       "newer",
                                       "--json"};
    {
      std::vector<std::unique_ptr<Program>> sims;
      for (int i = 0; i < radios; ++i) {
        sims.push_back(std::make_unique<Program>(std::vector<std::string>{
            (binFolder() / "orvik-radio-sim").string(), "--line-rate", "57600", "--latency", "1",
            "--serial", "BENCH" + std::to_string(1000 + i)}));
        const auto port = sims.back()->line();
        if (!port) {
          state.SkipWithError("orvik-radio-sim did not start");
          return;
        }
        arguments.insert(arguments.end(), {"--port", *port});
      }
      state.ResumeTiming();

      const auto start = std::chrono::steady_clock::now();
      Program station(arguments);
      while (const auto line = station.line()) {
        const auto fields = parseFlatJson(*line);
        if (fields && fields->at("event") == "end") {
          end = *fields;
        }
      }
      const int status = station.wait();
      wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

      state.PauseTiming();
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || end.empty() ||
          end["updated"] != std::to_string(radios)) {
        state.SkipWithError("not every radio was updated");
        return;
      }
    }
    const double stationAndWorkers =
        (std::stod(end["cpu_ms"]) + std::stod(end["workers_cpu_ms"])) / 1000.0;
    simCpu = childrenCpuSeconds() - childrenBefore - stationAndWorkers;
    state.ResumeTiming();
  }
  wallTimes()[radios] = wall;
  const double stationCpu = std::stod(end["cpu_ms"]) / 1000.0;
  state.counters["radios"] = radios;
  state.counters["wall_s"] = wall;
  if (wallTimes().contains(1)) {
    state.counters["vs_one_radio"] = wall / wallTimes()[1];
  }
  state.counters["station_cpu_ms"] = stationCpu * 1000.0;
  state.counters["station_cpu_pct_radio"] = stationCpu / wall / radios * 100.0;
  state.counters["worker_cpu_ms_radio"] = std::stod(end["workers_cpu_ms"]) / radios;
  state.counters["sim_cpu_ms_radio"] = simCpu * 1000.0 / radios;
}
BENCHMARK(BM_StationAtLineTime)
    ->Arg(1)
    ->Arg(4)
    ->Arg(8)
    ->Arg(16)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
