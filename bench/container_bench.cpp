// Throughput of Encrypt File and Decrypt File on one 64 MiB file of random bytes in
// a temporary folder, through the in-memory window. Argument: the password length.
// Then the file work alone (PackSplit, UnpackSplit) on files of 2 to 64 MiB, with
// the helper thread on for every chunk or off: a file's chunks are a hundredth of
// it (at most 1 MiB), so the sizes where the helper wins tell the chunk size from
// which FileWorkOptions uses it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/file_commands.h"
#include "container/pack.h"
#include "container/unpack.h"
#include "fake_form.h"
#include "file_clicks.h"

namespace {

namespace fs = std::filesystem;
constexpr std::size_t kFileBytes = std::size_t{64} << 20;

// The folder with the source, made once and removed at exit.
class BenchFolder {
 public:
  BenchFolder() : root_(fs::temp_directory_path() / "resicrypt-container-bench") {
    fs::remove_all(root_);
    fs::create_directories(root_ / "out");
    std::mt19937_64 rng(2024);
    std::vector<std::uint64_t> words(kFileBytes / 8);
    for (auto& word : words) word = rng();
    std::ofstream(Source().c_str(), std::ios::binary)
        .write(reinterpret_cast<const char*>(words.data()),
               static_cast<std::streamsize>(kFileBytes));
  }
  ~BenchFolder() {
    std::error_code error;
    fs::remove_all(root_, error);
  }
  std::string Source() const { return (root_ / "source.bin").string(); }
  std::string Container() const { return (root_ / "out" / "source.yal").string(); }
  // The first mib MiB of the source, as a file of its own.
  std::string Part(std::int64_t mib) const {
    const fs::path part = root_ / ("part" + std::to_string(mib) + ".bin");
    if (!fs::exists(part)) {
      std::ifstream in(Source().c_str(), std::ios::binary);
      std::vector<char> bytes(static_cast<std::size_t>(mib) << 20);
      in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      std::ofstream(part.string().c_str(), std::ios::binary)
          .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    return part.string();
  }
  std::string Root() const { return root_.string(); }

 private:
  fs::path root_;
};

BenchFolder& Folder() {
  static BenchFolder folder;
  return folder;
}

std::unique_ptr<resicrypt::testing::FakeForm> FormWithKey(std::int64_t length) {
  auto form = std::make_unique<resicrypt::testing::FakeForm>();
  form->edit1 = form->edit2 =
      std::string("container benchmark key").substr(0, static_cast<std::size_t>(length));
  return form;
}

void Pack(benchmark::State& state) {
  BenchFolder& folder = Folder();
  for (auto _ : state) {
    auto form = FormWithKey(state.range(0));
    form->openDialogAnswers.push_back(std::vector<std::string>{folder.Source()});
    form->saveDialogAnswers.push_back(folder.Container());
    resicrypt::testing::Button2Click(*form);
    if (form->report.size() != 5) state.SkipWithError("Encrypt File failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileBytes));
}

void Unpack(benchmark::State& state) {
  BenchFolder& folder = Folder();
  auto packer = FormWithKey(state.range(0));
  packer->openDialogAnswers.push_back(std::vector<std::string>{folder.Source()});
  packer->saveDialogAnswers.push_back(folder.Container());
  resicrypt::testing::Button2Click(*packer);
  for (auto _ : state) {
    auto form = FormWithKey(state.range(0));
    form->openDialogAnswers.push_back(std::vector<std::string>{folder.Container()});
    resicrypt::testing::Button1Click(*form);
    if (form->report.size() != 8) state.SkipWithError("Decrypt File failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileBytes));
}

resicrypt::FileWorkOptions SplitOptions(const benchmark::State& state) {
  resicrypt::FileWorkOptions options;
  options.helperFromBytes = state.range(1) != 0 ? 0 : resicrypt::FileWorkOptions::kNoHelper;
  return options;
}

constexpr char kSplitKey[] = "container benchmark key";  // 23 bytes

void PackSplit(benchmark::State& state) {
  const std::string source = Folder().Part(state.range(0));
  const std::string container = Folder().Root() + "/split.yal";
  auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
  resicrypt::PackEvents quiet;
  for (auto _ : state) {
    if (resicrypt::PackContainer(*workspace, *resicrypt::FilePassword::From(kSplitKey), container, {source}, quiet,
                                 SplitOptions(state))
            .result != resicrypt::PackResult::Packed) {
      state.SkipWithError("pack failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
}

class Quiet : public resicrypt::UnpackEvents {
 public:
  bool WrongPassword() override { return true; }
};

void UnpackSplit(benchmark::State& state) {
  const std::string source = Folder().Part(state.range(0));
  const std::string container = Folder().Root() + "/split.yal";
  auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
  resicrypt::PackEvents quiet;
  resicrypt::PackContainer(*workspace, *resicrypt::FilePassword::From(kSplitKey), container, {source}, quiet);
  fs::create_directories(Folder().Root() + "/split");
  Quiet events;
  for (auto _ : state) {
    if (resicrypt::UnpackContainer(*workspace, *resicrypt::FilePassword::From(kSplitKey), container, Folder().Root() + "/split/",
                                   events, SplitOptions(state))
            .unpacked != 1) {
      state.SkipWithError("unpack failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
}

BENCHMARK(Pack)->Arg(23)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Unpack)->Arg(23)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
// The best of nine: the machines this runs on are shared and noisy.
double Least(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}
BENCHMARK(PackSplit)
    ->ArgsProduct({{4, 8, 12, 16, 24, 32, 64}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(9)
    ->ComputeStatistics("least", Least)
    ->ReportAggregatesOnly();
BENCHMARK(UnpackSplit)
    ->ArgsProduct({{4, 8, 12, 16, 24, 32, 64}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(9)
    ->ComputeStatistics("least", Least)
    ->ReportAggregatesOnly();

}  // namespace
BENCHMARK_MAIN();
