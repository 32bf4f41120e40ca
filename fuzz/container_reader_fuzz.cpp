// Decrypt File's reader on hostile containers. The fuzz input is the whole
// container; it is unpacked with a fixed password into a folder of a scratch tree,
// every check-block question answered Cancel so that the records are read. Then:
// nothing may exist in the tree but the container and, in the target folder, the
// files of records that were reported unpacked, under names a stored name may
// have and with their stored sizes (no partial file, no temporary file, nothing
// beside or above the target folder); the container is never written; every stop
// that the window shows as report lines comes with at least one line. The target
// folder is emptied after each run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <system_error>

#include "container/binary_file.h"
#include "container/container_path.h"
#include "container/unpack.h"
#include "engine/cipher_workspace.h"

namespace {

namespace fs = std::filesystem;
using resicrypt::UnpackResult;

// The password of the seed containers (fuzz/make_fuzz_seeds.cpp).
constexpr char kPassword[] = "fuzzing-password";

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "container reader: %s\n", why.c_str());
  std::abort();
}

struct Tree {
  fs::path root;             // the scratch folder
  fs::path containerPath;    // root/c/in.yal
  fs::path target;           // root/t1/t2/out: names with ".." would land above it
  std::set<fs::path> fixed;  // folders and the container: always there
};

Tree* tree = nullptr;
std::unique_ptr<resicrypt::CipherWorkspace> workspace;

// Cancel to every differing check-block position; the reported records recorded.
class Events : public resicrypt::UnpackEvents {
 public:
  bool WrongPassword() override { return false; }
  void RecordUnpacked(const resicrypt::UnpackedRecord& report) override {
    const std::string& name = report.record.name;
    if (!resicrypt::StoredNameProblem(name).empty()) Fail("unpacked a refused name");
    if (report.outputPath != tree->target.string() + "/" + name) Fail("output outside the target");
    if (report.record.size < 0) Fail("negative size unpacked");
    unpacked[name] = report.record.size;
  }
  void RecordRefused(const resicrypt::FileProblem& problem) override {
    if (problem.kind == resicrypt::FileProblemKind::kExistingFileKept) return;
    if (problem.kind != resicrypt::FileProblemKind::kRecordRefused || problem.detail.empty()) {
      Fail("a refusal without its reason");
    }
  }
  // A damaged record's bytes go beside the target under its name with ".damaged",
  // never under the name itself.
  void RecordDamaged(const resicrypt::DamagedRecord& record) override {
    if (record.failedBlocks <= 0) Fail("a damaged record without a failed block");
    if (record.keptPath.empty()) return;
    const std::string kept = record.name + resicrypt::kDamagedSuffix;
    if (record.keptPath != tree->target.string() + "/" + kept) Fail("damaged bytes elsewhere");
    kept_.insert(kept);
  }
  std::map<std::string, std::int32_t> unpacked;  // later records of a name replace earlier ones
  std::set<std::string> kept_;                   // the .damaged files
};

void WriteContainer(const std::uint8_t* data, std::size_t size) {
  std::ofstream out(tree->containerPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) Fail("cannot write the container into the scratch folder");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tree = new Tree;
  const char* scratch = std::getenv("RESICRYPT_FUZZ_SCRATCH");
  if (scratch != nullptr && *scratch != '\0') {
    tree->root = fs::path(scratch) / "container-reader";
  } else {
    tree->root = fs::temp_directory_path() /
                 ("resicrypt-fuzz-container-" + std::to_string(static_cast<long>(std::rand())));
  }
  fs::remove_all(tree->root);
  fs::create_directories(tree->root / "c");
  tree->target = tree->root / "t1" / "t2" / "out";
  fs::create_directories(tree->target);
  tree->containerPath = tree->root / "c" / "in.yal";
  tree->fixed = {tree->root / "c", tree->containerPath, tree->root / "t1", tree->root / "t1" / "t2",
                 tree->target};
  workspace = std::make_unique<resicrypt::CipherWorkspace>();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WriteContainer(data, size);
  Events events;
  const std::string targetFolder = tree->target.string() + "/";
  const resicrypt::UnpackOutcome outcome = resicrypt::UnpackContainer(
      *workspace, *resicrypt::FilePassword::From(kPassword), tree->containerPath.string(), targetFolder, events);

  // A stop that the window reports in lines says what stopped it; the password
  // stops show a message or a question instead.
  if (outcome.result != UnpackResult::Unpacked &&
      outcome.result != UnpackResult::PasswordLengthWrong &&
      outcome.result != UnpackResult::PasswordWrong && outcome.problems.empty()) {
    Fail("a stop without its problem");
  }
  if (outcome.unpacked < 0 || outcome.refused < 0) Fail("negative counts");

  // The whole scratch tree: the fixed entries, and the unpacked files only.
  std::size_t seen = 0;
  std::size_t damagedSeen = 0;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(tree->root, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::path& path = it->path();
    if (tree->fixed.count(path) != 0) continue;
    if (path.parent_path() != tree->target)
      Fail("entry outside the target folder: " + path.string());
    const std::string name = path.filename().string();
    const auto found = events.unpacked.find(name);
    if (found == events.unpacked.end() && events.kept_.count(name) != 0) {
      ++damagedSeen;  // a later whole record of that name would have replaced it
      continue;
    }
    if (found == events.unpacked.end()) Fail("file of no unpacked record: " + name);
    if (!it->is_regular_file()) Fail("not a file: " + name);
    if (it->file_size() != static_cast<std::uintmax_t>(found->second)) {
      Fail("file of another size than its record: " + name);
    }
    ++seen;
  }
  if (error) Fail("cannot list the scratch folder: " + error.message());
  if (seen != events.unpacked.size() || damagedSeen > events.kept_.size()) {
    Fail("a reported file is missing");
  }

  // The container is only read.
  std::ifstream back(tree->containerPath, std::ios::binary);
  const std::string stored((std::istreambuf_iterator<char>(back)),
                           std::istreambuf_iterator<char>());
  if (stored.size() != size ||
      (size > 0 && stored.compare(0, size, reinterpret_cast<const char*>(data), size) != 0)) {
    Fail("the container was changed");
  }

  // The listing reads the same fields without the password.
  resicrypt::ListContainer(tree->containerPath.string(), 16);

  for (const auto& entry : fs::directory_iterator(tree->target)) fs::remove_all(entry.path());
  return 0;
}
