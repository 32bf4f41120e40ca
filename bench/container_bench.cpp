// Throughput of Encrypt File and Decrypt File on one 64 MiB file of random bytes in
// a temporary folder, through the in-memory window. Argument: the password length.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/file_commands.h"
#include "fake_form.h"

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
    resicrypt::Button2Click(*form);
    if (form->report.size() != 5) state.SkipWithError("Encrypt File failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileBytes));
}

void Unpack(benchmark::State& state) {
  BenchFolder& folder = Folder();
  auto packer = FormWithKey(state.range(0));
  packer->openDialogAnswers.push_back(std::vector<std::string>{folder.Source()});
  packer->saveDialogAnswers.push_back(folder.Container());
  resicrypt::Button2Click(*packer);
  for (auto _ : state) {
    auto form = FormWithKey(state.range(0));
    form->openDialogAnswers.push_back(std::vector<std::string>{folder.Container()});
    resicrypt::Button1Click(*form);
    if (form->report.size() != 8) state.SkipWithError("Decrypt File failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileBytes));
}

BENCHMARK(Pack)->Arg(23)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Unpack)->Arg(23)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
BENCHMARK_MAIN();
