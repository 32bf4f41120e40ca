// Engine throughput in plaintext bytes per second: the block codec as the file
// commands drive it, and the text cipher on a long text.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/fast_codec.h"
#include "engine/text_cipher.h"
#include "engine/reference/reference.h"

namespace {

using resicrypt::CipherWorkspace;

const char kPassword23[] = "correct horse battery s";  // 23 bytes, the file maximum
const char kPassword17[] = "correct horse bat";        // 17 bytes, the text maximum

std::string SampleText(std::size_t length) {
  std::string text;
  text.reserve(length);
  for (std::size_t k = 0; text.size() < length; ++k) {
    text.push_back(static_cast<char>(32 + (k * 7919 + k / 13) % 95));
  }
  return text;
}

// Workspace prepared as a file command prepares it: L = password length, one spare modulus.
int PrepareFileKey(CipherWorkspace& ws, const std::string& password) {
  resicrypt::SetPasswordText(ws, password);
  resicrypt::BuildModulusTable(ws, resicrypt::kFileTableSize);
  resicrypt::DerivePermutation(ws, resicrypt::kFileTableSize);
  return resicrypt::ResidueCount(ws, static_cast<int>(password.size())) + 1;
}

void BM_EncodeBlock(benchmark::State& state) {
  auto ws = std::make_unique<CipherWorkspace>();
  const std::string password =
      std::string(kPassword23).substr(0, static_cast<std::size_t>(state.range(0)));
  const int L = static_cast<int>(password.size());
  const int N = PrepareFileKey(*ws, password);
  int byte = 0;
  for (auto _ : state) {
    for (int p = 1; p <= L; ++p) ws->blockDigits[p] = (byte += 37) & 0xFF;
    resicrypt::EncodeBlock(*ws, resicrypt::kBlockBase, N);
    benchmark::DoNotOptimize(ws->residues[N]);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * L);
}
BENCHMARK(BM_EncodeBlock)->Arg(3)->Arg(17)->Arg(23);

void BM_DecodeBlock(benchmark::State& state) {
  auto ws = std::make_unique<resicrypt::ReferenceWorkspace>();
  const std::string password =
      std::string(kPassword23).substr(0, static_cast<std::size_t>(state.range(0)));
  const int L = static_cast<int>(password.size());
  const int N = PrepareFileKey(*ws, password);
  for (int p = 1; p <= L; ++p) ws->blockDigits[p] = (p * 91) & 0xFF;
  resicrypt::EncodeBlock(*ws, resicrypt::kBlockBase, N);
  resicrypt::BuildProductTable(*ws, N);
  for (auto _ : state) {
    resicrypt::DecodeBlock(*ws, resicrypt::kBlockBase, N);
    benchmark::DoNotOptimize(ws->outputDigits[2]);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * L);
}
BENCHMARK(BM_DecodeBlock)->Arg(3)->Arg(17)->Arg(23);

void BM_EncryptText(benchmark::State& state) {
  auto ws = std::make_unique<CipherWorkspace>();
  resicrypt::TextAlphabet alphabet;
  resicrypt::BuildTextAlphabet(alphabet);
  const std::string password =
      std::string(kPassword17).substr(0, static_cast<std::size_t>(state.range(0)));
  const std::string text = SampleText(static_cast<std::size_t>(state.range(1)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(resicrypt::EncryptText(*ws, alphabet, password, text));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_EncryptText)->Args({3, 64})->Args({17, 64})->Args({3, 65536})->Args({17, 65536});

void BM_DecryptText(benchmark::State& state) {
  auto ws = std::make_unique<CipherWorkspace>();
  resicrypt::TextAlphabet alphabet;
  resicrypt::BuildTextAlphabet(alphabet);
  const std::string password =
      std::string(kPassword17).substr(0, static_cast<std::size_t>(state.range(0)));
  const std::string text = SampleText(static_cast<std::size_t>(state.range(1)));
  const std::string cipher = resicrypt::EncryptText(*ws, alphabet, password, text);
  for (auto _ : state) {
    benchmark::DoNotOptimize(resicrypt::DecryptText(*ws, alphabet, password, cipher));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_DecryptText)->Args({3, 64})->Args({17, 64})->Args({3, 65536})->Args({17, 65536});

// The reference text cipher, block by block through EncodeBlock and DecodeBlock.
void BM_EncryptTextReference(benchmark::State& state) {
  auto ws = std::make_unique<CipherWorkspace>();
  resicrypt::TextAlphabet alphabet;
  resicrypt::BuildTextAlphabet(alphabet);
  const std::string password =
      std::string(kPassword17).substr(0, static_cast<std::size_t>(state.range(0)));
  const std::string text = SampleText(static_cast<std::size_t>(state.range(1)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(resicrypt::EncryptTextReference(*ws, alphabet, password, text));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_EncryptTextReference)->Args({3, 65536})->Args({17, 65536});

void BM_DecryptTextReference(benchmark::State& state) {
  auto ws = std::make_unique<resicrypt::ReferenceWorkspace>();
  resicrypt::TextAlphabet alphabet;
  resicrypt::BuildTextAlphabet(alphabet);
  const std::string password =
      std::string(kPassword17).substr(0, static_cast<std::size_t>(state.range(0)));
  const std::string text = SampleText(static_cast<std::size_t>(state.range(1)));
  const std::string cipher = resicrypt::EncryptText(*ws, alphabet, password, text);
  for (auto _ : state) {
    benchmark::DoNotOptimize(resicrypt::DecryptTextReference(*ws, alphabet, password, cipher));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_DecryptTextReference)->Args({3, 65536})->Args({17, 65536});

// The prepared codec as pack and unpack drive it: 64 KiB of plaintext per batch
// call, key length = block length L (3, 17, 23).
constexpr std::size_t kBatchBytes = 64 * 1024;

// Second argument: the kernel, 0 portable, 1 AVX2, 2 AVX-512; one the processor
// lacks is skipped.
resicrypt::CodecKernel CodecKernelArg(const benchmark::State& state) {
  constexpr resicrypt::CodecKernel kKernels[] = {resicrypt::CodecKernel::kPortable,
                                                 resicrypt::CodecKernel::kAvx2,
                                                 resicrypt::CodecKernel::kAvx512};
  return kKernels[state.range(1)];
}
bool SkipMissingKernel(benchmark::State& state) {
  if (resicrypt::IsCodecKernelSupported(CodecKernelArg(state))) return false;
  state.SkipWithError("this processor lacks the kernel");
  return true;
}

// One batch of blocks under the file key of the first range(0) password bytes,
// with the codec of the kernel range(1) names, encoded once. Sparse batches keep
// only the first two bytes of every block, as files of small numbers or with zero
// runs: the high bytes of every number are then 0.
struct CodecBatch {
  CodecBatch(const benchmark::State& state, bool sparse)
      : password(std::string(kPassword23).substr(0, static_cast<std::size_t>(state.range(0)))),
        L(static_cast<int>(password.size())),
        N(PrepareFileKey(*ws, password)),
        codec(*ws, L, N, CodecKernelArg(state)),
        blocks(kBatchBytes / static_cast<std::size_t>(L)),
        plain(SampleText(blocks * static_cast<std::size_t>(L))),
        cipher(blocks * static_cast<std::size_t>(N - 1)) {
    for (std::size_t k = 0; sparse && k < plain.size(); ++k) {
      if (k % static_cast<std::size_t>(L) >= 2) plain[k] = 0;
    }
    codec.EncodeBlocks(Plain(), blocks, cipher.data());
  }
  const unsigned char* Plain() const {
    return reinterpret_cast<const unsigned char*>(plain.data());
  }

  std::unique_ptr<CipherWorkspace> ws = std::make_unique<CipherWorkspace>();
  std::string password;
  int L;
  int N;
  resicrypt::BlockCodec codec;
  std::size_t blocks;
  std::string plain;
  std::vector<unsigned char> cipher;
};

void BM_CodecEncodeBlocks(benchmark::State& state) {
  if (SkipMissingKernel(state)) return;
  CodecBatch batch(state, false);
  for (auto _ : state) {
    batch.codec.EncodeBlocks(batch.Plain(), batch.blocks, batch.cipher.data());
    benchmark::DoNotOptimize(batch.cipher.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(batch.plain.size()));
}
BENCHMARK(BM_CodecEncodeBlocks)->ArgsProduct({{3, 17, 23}, {0, 1, 2}});

// range(2): 1 for sparse blocks.
void BM_CodecDecodeBlocks(benchmark::State& state) {
  if (SkipMissingKernel(state)) return;
  CodecBatch batch(state, state.range(2) != 0);
  std::vector<unsigned char> back(batch.plain.size());
  for (auto _ : state) {
    batch.codec.DecodeBlocks(batch.cipher.data(), batch.blocks, back.data());
    benchmark::DoNotOptimize(back.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(batch.plain.size()));
}
BENCHMARK(BM_CodecDecodeBlocks)->ArgsProduct({{3, 17, 23}, {0, 1, 2}, {0}});
BENCHMARK(BM_CodecDecodeBlocks)->ArgsProduct({{3, 23}, {0, 1, 2}, {1}});

// The text cipher on a 10 MB text, prepared once (TextCipher) as a command that
// reuses it across lines would.
constexpr std::int64_t kLongText = 10 * 1000 * 1000;

void BM_TextCipherEncrypt(benchmark::State& state) {
  auto ws = std::make_unique<CipherWorkspace>();
  resicrypt::TextAlphabet alphabet;
  resicrypt::BuildTextAlphabet(alphabet);
  const std::string password =
      std::string(kPassword17).substr(0, static_cast<std::size_t>(state.range(0)));
  const std::string text = SampleText(static_cast<std::size_t>(state.range(1)));
  const resicrypt::TextCipher cipher(*ws, alphabet, password);
  for (auto _ : state) {
    benchmark::DoNotOptimize(cipher.Encrypt(text));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_TextCipherEncrypt)->Args({3, kLongText})->Args({17, kLongText});

void BM_TextCipherDecrypt(benchmark::State& state) {
  auto ws = std::make_unique<CipherWorkspace>();
  resicrypt::TextAlphabet alphabet;
  resicrypt::BuildTextAlphabet(alphabet);
  const std::string password =
      std::string(kPassword17).substr(0, static_cast<std::size_t>(state.range(0)));
  const std::string text = SampleText(static_cast<std::size_t>(state.range(1)));
  const resicrypt::TextCipher cipher(*ws, alphabet, password);
  const std::string encrypted = cipher.Encrypt(text);
  for (auto _ : state) {
    benchmark::DoNotOptimize(cipher.Decrypt(encrypted));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_TextCipherDecrypt)->Args({3, kLongText})->Args({17, kLongText});

// Cipher text under another key: every block has its zero digits counted.
void BM_TextCipherDecryptWrongKey(benchmark::State& state) {
  auto ws = std::make_unique<CipherWorkspace>();
  resicrypt::TextAlphabet alphabet;
  resicrypt::BuildTextAlphabet(alphabet);
  const std::string text = SampleText(static_cast<std::size_t>(state.range(0)));
  const std::string encrypted = resicrypt::TextCipher(*ws, alphabet, kPassword17).Encrypt(text);
  const resicrypt::TextCipher wrong(*ws, alphabet, "incorrect horse b");
  for (auto _ : state) {
    benchmark::DoNotOptimize(wrong.Decrypt(encrypted));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_TextCipherDecryptWrongKey)->Arg(kLongText);

// One prepared cipher against one call per line: 10,000 lines of 80 characters.
void BM_TextLines(benchmark::State& state) {
  auto ws = std::make_unique<CipherWorkspace>();
  resicrypt::TextAlphabet alphabet;
  resicrypt::BuildTextAlphabet(alphabet);
  const std::string password = kPassword17;
  const std::string line = SampleText(80);
  const bool prepareOnce = state.range(0) != 0;
  for (auto _ : state) {
    if (prepareOnce) {
      const resicrypt::TextCipher cipher(*ws, alphabet, password);
      for (int k = 0; k < 10000; ++k) benchmark::DoNotOptimize(cipher.Encrypt(line));
    } else {
      for (int k = 0; k < 10000; ++k) {
        benchmark::DoNotOptimize(resicrypt::EncryptText(*ws, alphabet, password, line));
      }
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 10000 * 80);
}
BENCHMARK(BM_TextLines)->ArgName("prepare_once")->Arg(0)->Arg(1);

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
