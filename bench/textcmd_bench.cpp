// Throughput of the clipboard and memo commands on a large text: 10,000 lines of
// 80 characters, through the in-memory window. Argument: the key length.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/text_commands.h"
#include "engine/fast_codec.h"
#include "fake_form.h"

namespace {

constexpr int kLines = 10000;
constexpr int kLineLength = 80;

std::vector<std::string> PlainLines() {
  std::vector<std::string> lines;
  lines.reserve(kLines);
  for (int i = 0; i < kLines; ++i) {
    std::string line;
    for (int k = 0; k < kLineLength; ++k) {
      const int v = (i * 31 + k * 7) % 27;
      line.push_back(v == 26 ? ' ' : static_cast<char>('a' + v));
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::unique_ptr<resicrypt::testing::FakeForm> FormWithKey(int keyLength) {
  auto form = std::make_unique<resicrypt::testing::FakeForm>();
  const std::string key =
      std::string("benchmark key 17c").substr(0, static_cast<std::size_t>(keyLength));
  form->edit1 = form->edit2 = key;
  return form;
}

void SetBytes(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_EncryptClipboard(benchmark::State& state) {
  auto form = FormWithKey(static_cast<int>(state.range(0)));
  form->hidePassword = state.range(1) == 0;
  const std::string plain = JoinLines(PlainLines());
  for (auto _ : state) {
    form->clipboard = plain;
    form->memo.clear();
    resicrypt::Button4Click(*form);
    benchmark::DoNotOptimize(form->clipboard.data());
  }
  SetBytes(state, plain.size());
}

void BM_DecryptClipboard(benchmark::State& state) {
  auto form = FormWithKey(static_cast<int>(state.range(0)));
  form->clipboard = JoinLines(PlainLines());
  resicrypt::Button4Click(*form);
  const std::string cipherText = form->clipboard;
  form->hidePassword = state.range(1) == 0;
  for (auto _ : state) {
    form->clipboard = cipherText;
    form->memo.clear();
    resicrypt::Button3Click(*form);
    benchmark::DoNotOptimize(form->clipboard.data());
  }
  SetBytes(state, cipherText.size());
}

void BM_EncryptMemo(benchmark::State& state) {
  auto form = FormWithKey(static_cast<int>(state.range(0)));
  const std::vector<std::string> plain = PlainLines();
  for (auto _ : state) {
    form->memo = plain;
    resicrypt::Button5Click(*form);
    benchmark::DoNotOptimize(form->memo.data());
  }
  SetBytes(state, static_cast<std::size_t>(kLines) * kLineLength);
}

void BM_DecryptMemo(benchmark::State& state) {
  auto form = FormWithKey(static_cast<int>(state.range(0)));
  form->memo = PlainLines();
  resicrypt::Button5Click(*form);
  const std::vector<std::string> cipherLines = form->memo;
  for (auto _ : state) {
    form->memo = cipherLines;
    resicrypt::Button6Click(*form);
    benchmark::DoNotOptimize(form->memo.data());
  }
  SetBytes(state, static_cast<std::size_t>(kLines) * kLineLength);
}

// Arguments: key length, and 1 for the memo echo (Hide Password not ticked).
BENCHMARK(BM_EncryptClipboard)
    ->ArgsProduct({{3, 9, 17}, {0}})
    ->Args({9, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecryptClipboard)
    ->ArgsProduct({{3, 9, 17}, {0}})
    ->Args({9, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncryptMemo)->Arg(3)->Arg(9)->Arg(17)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecryptMemo)->Arg(3)->Arg(9)->Arg(17)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (const char* error = resicrypt::CodecSettingError()) {
    std::fprintf(stderr, "%s\n", error);
    return 2;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
