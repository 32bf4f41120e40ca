// Helpers for the container tests: a temporary folder per test, whole-file bytes,
// the two commands driven through the fake form, and the expected cipher steps
// computed on a workspace of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "container/file_cipher.h"
#include "app/file_commands.h"
#include "engine/engine.h"
#include "engine/reference/reference.h"
#include "fake_form.h"
#include "file_clicks.h"

namespace containertest {

namespace fs = std::filesystem;
using resicrypt::testing::FakeForm;

// Options whose padding clock starts at a chosen second and ticks once per final
// block, so that every record of a container is padded from a seed of its own.
inline std::uint32_t clockSecond = 0;
inline std::uint32_t TickingClock() { return clockSecond++; }

inline resicrypt::FileWorkOptions TickingClockFrom(std::uint32_t start,
                                                   resicrypt::FileWorkOptions options = {}) {
  clockSecond = start;
  options.paddingClock = TickingClock;
  return options;
}

// Names of the entries in folder, sorted.
inline std::vector<std::string> NamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A fresh folder under the system's temporary folder, removed with its content.
class TempFolder {
 public:
  TempFolder() {
    static unsigned counter = 0;
    const auto stamp = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (;;) {
      path_ = fs::temp_directory_path() /
              ("resicrypt-ct-" + std::to_string(stamp) + "-" + std::to_string(++counter));
      if (fs::create_directory(path_)) break;
    }
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code error;
    // Read-only files cannot be removed on Windows.
    for (const auto& entry : fs::recursive_directory_iterator(path_, error)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::remove_all(path_, error);
  }

  // The folder as the commands see it: ending in its separator.
  std::string Folder() const { return (path_ / "").string(); }
  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& Root() const { return path_; }

  std::vector<std::string> Names() const { return NamesIn(path_); }

 private:
  fs::path path_;
};

// Paths stay narrow strings, as the commands see them (a std::filesystem::path
// would convert names with bytes >= 128 through another code page on Windows).
inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Files by name and content.
using Files = std::vector<std::pair<std::string, std::string>>;

// Writes each file into folder (ending in its separator); their paths, in order.
inline std::vector<std::string> WriteFiles(const std::string& folder, const Files& files) {
  std::vector<std::string> paths;
  for (const auto& [name, content] : files) {
    paths.push_back(folder + name);
    WriteBytes(paths.back(), content);
  }
  return paths;
}

inline std::string RandomBytes(std::size_t length, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string bytes(length, '\0');
  for (char& c : bytes) c = static_cast<char>(static_cast<unsigned char>(byte(rng)));
  return bytes;
}

inline std::int32_t Le32At(const std::string& bytes, std::size_t offset) {
  std::uint32_t u = 0;
  for (int k = 3; k >= 0; --k) {
    u = (u << 8) | static_cast<unsigned char>(bytes.at(offset + static_cast<std::size_t>(k)));
  }
  return static_cast<std::int32_t>(u);
}

inline std::string Le32(std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  std::string bytes(4, '\0');
  for (int k = 0; k < 4; ++k)
    bytes[static_cast<std::size_t>(k)] = static_cast<char>((u >> (8 * k)) & 0xFF);
  return bytes;
}

// bytes with removed bytes at offset replaced by inserted.
inline std::string Splice(const std::string& bytes, std::size_t offset, std::size_t removed,
                          const std::string& inserted) {
  return bytes.substr(0, offset) + inserted + bytes.substr(offset + removed);
}

inline resicrypt::FilePassword Password(const std::string& text) {
  return resicrypt::FilePassword::From(text).value();
}

// The line both commands add to the report when their dialog is cancelled.
inline const char kProduct[] = " Product = E-mail: resicrypt@example.org";

// The window's fake with both password fields set; on the heap, as the workspace
// inside it is large.
inline std::unique_ptr<FakeForm> NewForm(const std::string& password) {
  auto form = std::make_unique<FakeForm>();
  form->edit1 = password;
  form->edit2 = password;
  form->report.clear();
  return form;
}

inline void Append(std::vector<std::string>& lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
}

// Encrypt File with the dialogs answered.
inline void Encrypt(FakeForm& form, const std::vector<std::string>& sources,
                    const std::string& container) {
  form.openDialogAnswers.push_back(sources);
  form.saveDialogAnswers.push_back(container);
  resicrypt::testing::Button2Click(form);
}

// Decrypt File with the open dialog answered.
inline void Decrypt(FakeForm& form, const std::string& container) {
  form.openDialogAnswers.push_back(std::vector<std::string>{container});
  resicrypt::testing::Button1Click(form);
}

// The file cipher worked out on a workspace of the test's own: the password's
// table and N, and single blocks through EncodeBlock / DecodeBlock.
class ReferenceCipher {
 public:
  explicit ReferenceCipher(const std::string& password)
      : ws_(std::make_unique<resicrypt::ReferenceWorkspace>()),
        L_(static_cast<int>(password.size())) {
    resicrypt::SetPasswordText(*ws_, password);
    resicrypt::BuildModulusTable(*ws_, 55);
    resicrypt::DerivePermutation(*ws_, 55);
    N_ = resicrypt::ResidueCount(*ws_, L_) + 1;
    resicrypt::BuildProductTable(*ws_, N_);
  }
  int L() const { return L_; }
  int N() const { return N_; }

  // Residues 2..N of a block whose positions 1..L hold bytes (missing ones 0).
  std::string Encode(const std::string& bytes) {
    for (int p = 1; p < 100; ++p) ws_->blockDigits[p] = 0;
    for (std::size_t p = 0; p < bytes.size(); ++p) {
      ws_->blockDigits[p + 1] = static_cast<unsigned char>(bytes[p]);
    }
    resicrypt::EncodeBlock(*ws_, 256, N_);
    std::string out;
    for (int i = 2; i <= N_; ++i) out += static_cast<char>(ws_->residues[i]);
    return out;
  }
  // Block positions 1..L rebuilt from N - 1 residue bytes.
  std::string Decode(const std::string& residues) {
    for (int i = 2; i <= N_; ++i) {
      ws_->residues[i] = static_cast<unsigned char>(residues.at(static_cast<std::size_t>(i - 2)));
    }
    resicrypt::DecodeBlock(*ws_, 256, N_);
    std::string out;
    for (int p = 1; p <= L_; ++p) out += static_cast<char>(ws_->outputDigits[p + 1]);
    return out;
  }

 private:
  std::unique_ptr<resicrypt::ReferenceWorkspace> ws_;
  int L_;
  int N_ = 0;
};

// A password of the given length whose residue count is N (searched over simple
// candidates), or "" when none was found.
inline std::string PasswordWithResidueCount(int length, int N, int skip = 0) {
  for (int seed = 0; seed < 20000; ++seed) {
    std::string candidate;
    unsigned value = static_cast<unsigned>(seed) * 2654435761u + 12345u;
    for (int k = 0; k < length; ++k) {
      value = value * 1103515245u + 12345u;
      candidate += static_cast<char>('a' + (value >> 16) % 26);
    }
    if (ReferenceCipher(candidate).N() == N && skip-- == 0) return candidate;
  }
  return std::string();
}

// One record head found by walking a container with block length L.
struct RecordAt {
  std::size_t offset;  // of the name length field
  std::int32_t nameLength;
  std::string name;
  std::int32_t size;
  std::size_t blocksOffset;
  std::size_t end;
};

// Walks a well-formed container by the layout: 4 + (N-1) + 4 header bytes, then
// per record 4 + n + 4 + (S div L + 1) x (N-1) bytes.
inline std::vector<RecordAt> WalkRecords(const std::string& bytes, int L) {
  const auto N = static_cast<std::size_t>(Le32At(bytes, 0));
  const std::int32_t F = Le32At(bytes, 4 + N - 1);
  std::vector<RecordAt> records;
  std::size_t offset = 4 + (N - 1) + 4;
  for (std::int32_t k = 0; k < F && offset < bytes.size(); ++k) {
    RecordAt r{};
    r.offset = offset;
    r.nameLength = Le32At(bytes, offset);
    r.name = bytes.substr(offset + 4, static_cast<std::size_t>(r.nameLength));
    r.size = Le32At(bytes, offset + 4 + static_cast<std::size_t>(r.nameLength));
    r.blocksOffset = offset + 8 + static_cast<std::size_t>(r.nameLength);
    r.end = r.blocksOffset + static_cast<std::size_t>(r.size / L + 1) * (N - 1);
    records.push_back(r);
    offset = r.end;
  }
  return records;
}

// Sources in <root>/src, the container in <root>/in, so that anything written
// outside the container's folder shows in <root>.
struct Scene {
  TempFolder root;
  std::string password;
  std::string container;

  Scene(const std::string& key, const Files& files) : password(key) {
    fs::create_directory(root.Root() / "src");
    fs::create_directory(root.Root() / "in");
    container = (root.Root() / "in" / "box.yal").string();
    auto form = NewForm(password);
    Encrypt(*form, WriteFiles((root.Root() / "src" / "").string(), files), container);
  }
  std::string In(const std::string& name) const {
    return (root.Root() / "in" / "").string() + name;
  }
  std::vector<std::string> InNames() const { return NamesIn(root.Root() / "in"); }
  std::string Bytes() const { return ReadBytes(container); }
  void SetBytes(const std::string& bytes) const { WriteBytes(container, bytes); }
};

}  // namespace containertest

#ifdef __linux__
#include <sys/resource.h>

#include <csignal>

namespace containertest {

// Limits the size of any file this process writes, so that writes fail as on a
// full disk (with SIGXFSZ ignored, write() returns EFBIG). Linux only.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limited = previous_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
};

}  // namespace containertest
#endif
