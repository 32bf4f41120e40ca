// Writes the seed corpora of the fuzz targets, made by the product's own code:
// containers from the packer (under the reader target's password, with a fixed
// padding clock so that the seeds come out the same every time), cipher texts
// from EncryptText, conversations and argument lists.
//   make_fuzz_seeds fuzz/corpus
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "container/byte_order.h"
#include "container/file_cipher.h"
#include "container/pack.h"
#include "engine/cipher_workspace.h"
#include "engine/text_cipher.h"

namespace {

namespace fs = std::filesystem;

constexpr char kReaderPassword[] = "fuzzing-password";  // as in container_reader_fuzz.cpp

fs::path corpus;
std::unique_ptr<resicrypt::CipherWorkspace> workspace;
resicrypt::TextAlphabet alphabet{};

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  fs::create_directories(corpus / target);
  WriteFile(corpus / target / name, bytes);
}

std::uint32_t FixedClock() { return 1700000000u; }

// A container of the given files, packed into a scratch folder and read back.
std::string Pack(const std::vector<std::pair<std::string, std::string>>& files) {
  const fs::path scratch = fs::temp_directory_path() / "resicrypt-fuzz-seeds";
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  std::vector<std::string> sources;
  for (const auto& [name, content] : files) {
    sources.push_back((scratch / name).string());
    WriteFile(sources.back(), content);
  }
  resicrypt::PackEvents events;
  const std::string container = (scratch / "seed.yal").string();
  resicrypt::FileWorkOptions options;
  options.paddingClock = FixedClock;  // the same seeds every time they are made
  resicrypt::PackContainer(*workspace, *resicrypt::FilePassword::From(kReaderPassword), container,
                           sources, events, options);
  std::string bytes = ReadFile(container);
  fs::remove_all(scratch);
  return bytes;
}

std::string Le32(std::int32_t value) {
  unsigned char field[4];
  resicrypt::StoreLe32(field, value);
  return std::string(reinterpret_cast<const char*>(field), 4);
}

void ContainerSeeds() {
  const std::string one = Pack({{"a.txt", "the first seed file"}});
  Seed("fuzz_container_reader", "one.yal", one);
  Seed("fuzz_container_reader", "three.yal",
       Pack({{"a", "x"}, {"empty", ""}, {"b.bin", std::string(33, '\x9c')}}));
  Seed("fuzz_container_reader", "exact.yal", Pack({{"sixteen.txt", "0123456789abcdef"}}));
  Seed("fuzz_container_reader", "high-name.yal", Pack({{"\xE7\xF6z \xFC.txt", "tiny"}}));

  // Hostile variants of the one-file container: its record head starts after
  // 4 + (N - 1) + 4 header bytes; the name "a.txt" takes 5 bytes.
  const std::size_t head =
      8 + static_cast<std::size_t>(
              resicrypt::LoadLe32(reinterpret_cast<const unsigned char*>(one.data())) - 1);
  const auto renamed = [&](const std::string& name) {
    return one.substr(0, head) + Le32(static_cast<std::int32_t>(name.size())) + name +
           one.substr(head + 4 + 5);
  };
  Seed("fuzz_container_reader", "dotdot.yal", renamed("../a.txt"));
  Seed("fuzz_container_reader", "device.yal", renamed("CON"));
  Seed("fuzz_container_reader", "separator.yal", renamed("sub\\a.txt"));
  Seed("fuzz_container_reader", "count-too-big.yal",
       one.substr(0, head - 4) + Le32(9) + one.substr(head));
  Seed("fuzz_container_reader", "cut.yal", one.substr(0, one.size() - 3));
}

// The decrypt_text target's layout: key length - 3, the key, the text.
std::string KeyedInput(const std::string& key, const std::string& flags, const std::string& text) {
  return std::string(1, static_cast<char>(key.size() - 3)) + flags + key + text;
}

void TextSeeds() {
  const std::pair<std::string, std::string> samples[] = {
      {"abc", "hello world"},
      {"pass word", "a line of text that spans several blocks of the cipher"},
      {"abcdefghijklmnopq", "seventeen bytes!!"},
      {"\xE7\xF6\xFC", "\xFF\xFE high bytes \x80\x81"},
  };
  int k = 0;
  for (const auto& [key, text] : samples) {
    const std::string cipher = resicrypt::EncryptText(*workspace, alphabet, key, text);
    Seed("fuzz_decrypt_text", "cipher-" + std::to_string(k), KeyedInput(key, "", cipher));
    Seed("fuzz_decrypt_text", "plain-" + std::to_string(k), KeyedInput(key, "", text));
    ++k;
  }
  Seed("fuzz_clipboard_transform", "cells", KeyedInput("secret", "\x01", "ab\tcd\r\nxyz"));
  Seed("fuzz_clipboard_transform", "lines",
       KeyedInput("pass word", std::string(1, '\0'), "first line\nx\n\nsecond line\r\n\tlast"));
  const std::string cipher = resicrypt::EncryptText(*workspace, alphabet, "secret", "cell one");
  Seed("fuzz_clipboard_transform", "cipher",
       KeyedInput("secret", "\x01", cipher + "\t" + cipher + "\r\n"));
}

// Operations of the DDE target: 0 open, 1 close, 2 macro (length, bytes).
std::string Macro(const std::string& text) {
  return std::string(1, '\x02') + std::string(1, static_cast<char>(text.size())) + text;
}

void DdeSeeds() {
  const std::string open(1, '\x00');
  const std::string close(1, '\x01');
  const std::string start = open + Macro("C:\\Tools\\Caller.exe");
  Seed("fuzz_dde_conversation", "encrypt",
       std::string(1, '\x02') + start + Macro("Open") + Macro("secret") + Macro("one line") +
           Macro("two\r\nlines") + close);
  const std::string cipher = resicrypt::EncryptText(*workspace, alphabet, "secret", "one line");
  Seed("fuzz_dde_conversation", "decrypt-hidden",
       std::string(1, '\x03') + start + Macro("Close") + Macro("ab") + Macro("secret") +
           Macro(cipher) + Macro("") + close);
  // The caller does not answer: the "Disconnect" message runs two operations.
  Seed("fuzz_dde_conversation", "no-caller",
       std::string(1, '\x00') + open + std::string("\x07\x02", 2) + Macro("C:\\A\\x.exe.exe") +
           Macro("open") + Macro("twenty characters!!!") + Macro("text") + close);
  // Text lines during a file command.
  Seed("fuzz_dde_conversation", "file-command",
       std::string(1, '\x02') + start + Macro("Open") + Macro("secret") +
           std::string("\x06\x03", 2) + Macro("held back") + Macro("also") + close);
}

std::string Argv(const std::vector<std::string>& args) {
  std::string out;
  for (std::size_t k = 0; k < args.size(); ++k) {
    if (k > 0) out.push_back('\0');
    out += args[k];
  }
  return out;
}

void CliSeeds() {
  const std::vector<std::vector<std::string>> lists = {
      {"encrypt-text", "--password-file", "key.txt"},
      {"decrypt-text", "--password-file=key.txt"},
      {"pack", "-o", "out.yal", "a.txt", "b.txt"},
      {"pack", "--password-file", "k", "-o", "out.yal", "--", "-dash.txt"},
      {"unpack", "-C", "dir", "box.yal"},
      {"list", "box.yal"},
      {"help", "pack"},
      {"unpack", "--help"},
  };
  int k = 0;
  for (const auto& args : lists) Seed("fuzz_cli_args", "args-" + std::to_string(k++), Argv(args));
}

// The name rules (a code page's pick, a name, NUL, a second name), the caller path
// (a pick, the path), the password file (the bytes used, the file) and standard
// input (a pick, the input).
void InputSeeds() {
  using namespace std::string_literals;
  const std::vector<std::pair<std::string, std::string>> seeds = {
      {"fuzz_name_rules", "\x03R\xC3\xA9sum\xC3\xA9.txt\0R\xC3\xA9SUM\xC3\xA9.TXT"s},
      {"fuzz_name_rules", "\x02\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt"},
      {"fuzz_name_rules", "\x04\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1.doc\0con.txt"s},
      {"fuzz_name_rules", "\x0Areport  . \0a\\b"s},
      {"fuzz_caller_path", "\x01" "C:\\Tools\\Caller.exe"},
      {"fuzz_caller_path", "\x05\\\\server\\share\\dde\\call.EXE"},
      {"fuzz_caller_path", "\x09\\\\.\\pipe\\x.exe"},
      {"fuzz_password_file", "\x06secret\r\nnext line"},
      {"fuzz_password_file", "\x17twenty-three-byte-keys\r"},
      {"fuzz_password_file", "\x03" "ab\rc\n"},
      {"fuzz_held_input", "\x01one line of standard input\n"},
      {"fuzz_held_input", "\x2A" + std::string(40, '\xFF')},
  };
  int k = 0;
  for (const auto& [target, bytes] : seeds) Seed(target, "input-" + std::to_string(k++), bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds CORPUS_FOLDER\n");
    return 2;
  }
  corpus = argv[1];
  workspace = std::make_unique<resicrypt::CipherWorkspace>();
  resicrypt::BuildTextAlphabet(alphabet);
  ContainerSeeds();
  TextSeeds();
  DdeSeeds();
  CliSeeds();
  InputSeeds();
  return 0;
}
