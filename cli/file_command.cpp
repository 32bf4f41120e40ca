#include "cli/file_command.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "cli/code_page.h"
#include "cli/password_prompt.h"
#include "cli/progress.h"
#include "cli/std_stream.h"
#include "container/binary_file.h"
#include "container/container_header.h"
#include "container/container_path.h"
#include "container/file_cipher.h"
#include "container/pack.h"
#include "container/platform_file.h"
#include "container/unpack.h"

namespace resicrypt::cli {

namespace {

#ifdef _WIN32
constexpr char kNativeSeparator = '\\';
#else
constexpr char kNativeSeparator = '/';
#endif

void Say(std::FILE* err, const std::string& message) {
  std::fprintf(err, "resicrypt-cli: %s\n", message.c_str());
}

// ": No space left on device" when the system said why, else nothing.
std::string SystemReason(const FileProblem& problem) {
  return problem.systemError != 0 ? ": " + SystemErrorText(problem.systemError) : std::string();
}

// "1 file", "2 files".
std::string Files(int count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }

std::string NotRegular(const std::string& what) { return "not a regular file (" + what + ")"; }

// The source '-' is standard input; its path is empty until it is held in a file.
std::string SourceShown(const std::string& path) { return path.empty() ? "-" : path; }

// "cannot pack 'd2/report.txt': another source has the same name on Windows: 'd1/REPORT.txt'"
std::string SourceProblemMessage(const FileProblem& problem) {
  std::string why = problem.detail;
  switch (problem.kind) {
    case FileProblemKind::kNameTaken:
      why = "another source has the same name on Windows: '" + SourceShown(problem.detail) + "'";
      break;
    case FileProblemKind::kContainerIsSource:
      why = "it is the container itself";
      break;
    case FileProblemKind::kNotOpened:
      why = problem.systemError != 0 ? SystemErrorText(problem.systemError) : "cannot be opened";
      break;
    case FileProblemKind::kNotRegularFile:
      why = problem.detail == FileTypeWords(FileType::kFolder) ? "a folder, not a file"
                                                               : NotRegular(problem.detail);
      break;
    case FileProblemKind::kTooLarge:
      why = "larger than 2147483647 bytes";
      break;
    case FileProblemKind::kPathTooLong:
      why = "path longer than 255 bytes";
      break;
    default:
      break;
  }
  return "cannot pack '" + SourceShown(problem.path) + "': " + why;
}

// "name not in code page 1252 (code page 1251 holds it: --codepage 1251)": the
// code pages the command line knows that would hold a name the chosen one lacks.
std::string NotInCodePage(const NameCodePage& codePage, const std::string& name) {
  std::string message = "name not in code page " + std::to_string(codePage.Number());
  const std::vector<int> holding = NameCodePage::Holding(name);
  if (holding.empty()) return message;
  std::string list;
  for (std::size_t k = 0; k < holding.size(); ++k) {
    if (k > 0) list += k + 1 == holding.size() ? " and " : ", ";
    list += std::to_string(holding[k]);
  }
  return message + (holding.size() == 1
                        ? " (code page " + list + " holds it: --codepage " + list + ")"
                        : " (code pages " + list + " hold it: --codepage N)");
}

NameCodePage CodePageOf(const ParsedArgs& parsed) {
  const auto option = parsed.options.find("codepage");
  if (option == parsed.options.end()) return NameCodePage();
  return *NameCodePage::Numbered(std::stoi(option->second));  // checked by ParseArgs
}

// A stored name as this system writes it; bytes that do not convert show as '?'.
std::string ShownName(const NameCodePage& codePage, const std::string& stored) {
  std::string name;
  if (codePage.FromStored(stored, name)) return PrintableName(name);
  name = PrintableName(stored);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  return name;
}

// The name of a source as the file system spells it; on Linux a backslash is a
// character of it.
std::string OwnName(const std::string& path) {
#ifdef _WIN32
  return FileNamePart(path);
#else
  return path.substr(path.rfind('/') + 1);
#endif
}

// "Record 3 not unpacked (reason)[, unpacking stopped][: name]"
std::string RecordMessage(const FileProblem& problem, const NameCodePage& codePage) {
  std::string reason = problem.detail;
  if (problem.kind == FileProblemKind::kContainerNotRead) reason = "container could not be read";
  if (problem.kind == FileProblemKind::kOutputNotMade) {
    reason = "output file not created";
    if (!problem.detail.empty()) reason += ": " + problem.detail + " is in the way";
  }
  if (problem.kind == FileProblemKind::kOutputNotWritten) {
    reason = "output file not written";
    if (!problem.detail.empty()) reason += " in " + problem.detail;
  }
  reason += SystemReason(problem);
  std::string message =
      "Record " + std::to_string(problem.record) + " not unpacked (" + reason + ")";
  if (problem.kind != FileProblemKind::kRecordRefused) message += ", unpacking stopped";
  if (!problem.path.empty()) message += ": " + ShownName(codePage, problem.path);
  return message;
}

// "Record 2 damaged (3 blocks failed their check, the first at byte 1472), written
// as 'b.txt.damaged': b.txt"
std::string DamagedMessage(const DamagedRecord& record, const NameCodePage& codePage,
                           bool written) {
  std::string message = "Record " + std::to_string(record.index) + " damaged (" +
                        std::to_string(record.failedBlocks) +
                        (record.failedBlocks == 1 ? " block failed its" : " blocks failed their") +
                        " check, the first at byte " + std::to_string(record.firstByte) + ")";
  if (written) {
    message += record.keptPath.empty() ? ", nothing written"
                                       : ", written as '" + OwnName(record.keptPath) + "'";
  }
  return message + ": " + ShownName(codePage, record.name);
}

// What stopped a pack, one message per problem; the last says what became of the
// container.
void SayPackProblems(std::FILE* err, const PackOutcome& outcome, const std::string& container,
                     int sourceCount) {
  bool containerTold = false;
  for (const FileProblem& problem : outcome.problems) {
    const std::string quoted = "'" + problem.path + "'";
    switch (problem.kind) {
      case FileProblemKind::kPathTooLong:
        Say(err, (outcome.result == PackResult::ContainerNotCreated ? "cannot create container "
                                                                    : "cannot pack ") +
                     quoted + ": path longer than 255 bytes");
        break;
      case FileProblemKind::kTooManyFiles:
        Say(err, "Too many files");
        break;
      case FileProblemKind::kContainerNotMade:
        Say(err, "cannot create container " + quoted +
                     (problem.detail.empty() ? SystemReason(problem) : ": " + problem.detail));
        break;
      case FileProblemKind::kNotRegularFile:
        Say(err, (outcome.result == PackResult::ContainerNotCreated ? "cannot create container "
                                                                    : "cannot pack ") +
                     quoted + ": " + NotRegular(problem.detail));
        break;
      case FileProblemKind::kNotOpened:
        Say(err, "cannot open " + quoted + SystemReason(problem));
        break;
      case FileProblemKind::kTooLarge:
        Say(err, "File larger than 2147483647 bytes: " + problem.path);
        break;
      case FileProblemKind::kNotReadToEnd:
        Say(err, "File could not be read to its end: " + problem.path + SystemReason(problem));
        break;
      case FileProblemKind::kGrewWhileRead:
        Say(err, "File changed while it was read: " + problem.path);
        break;
      case FileProblemKind::kContainerKept:
        Say(err, problem.path == "-" ? std::string("nothing written to standard output")
                                     : "nothing packed; " + quoted + " kept as it was");
        containerTold = true;
        break;
      case FileProblemKind::kNameNotStorable:
      case FileProblemKind::kNameTaken:
      case FileProblemKind::kContainerIsSource:
        Say(err, SourceProblemMessage(problem));
        break;
      case FileProblemKind::kNotKept:
      case FileProblemKind::kNotWritten:
        Say(err, "Container not written: " + problem.path + SystemReason(problem));
        containerTold = true;
        break;
      default:
        break;
    }
  }
  if (outcome.result == PackResult::SourceNotRead && !containerTold) {
    std::fprintf(err, "resicrypt-cli: %d of %s packed; '%s' is incomplete\n",
                 static_cast<int>(outcome.packed), Files(sourceCount).c_str(), container.c_str());
  }
}

// What stopped an unpack.
void SayUnpackProblems(std::FILE* err, const UnpackOutcome& outcome, const NameCodePage& codePage) {
  for (const FileProblem& problem : outcome.problems) {
    const std::string quoted = "'" + problem.path + "'";
    switch (problem.kind) {
      case FileProblemKind::kPathTooLong:
        Say(err, "cannot open container " + quoted + ": path longer than 255 bytes");
        break;
      case FileProblemKind::kNotOpened:
        Say(err, "cannot open container " + quoted + SystemReason(problem));
        break;
      case FileProblemKind::kNotRegularFile:
        Say(err, "cannot open container " + quoted + ": " + NotRegular(problem.detail));
        break;
      case FileProblemKind::kContainerDamaged:
        Say(err, "Container damaged (" + problem.detail + "), nothing unpacked");
        break;
      case FileProblemKind::kBytesAfterRecords:
        Say(err, "Container damaged (its records do not fill it): " + problem.detail +
                     " bytes after " +
                     (problem.record > 0 ? "record " + std::to_string(problem.record)
                                         : std::string("its header")) +
                     " not unpacked");
        break;
      default:
        Say(err, RecordMessage(problem, codePage));
        break;
    }
  }
}

// "not a container (too short to hold a header)": a file that was never one, as
// against a damaged container, whose header reads and whose records do not.
std::string NotContainer(ContainerHeader header) {
  return header == ContainerHeader::kTooShort
             ? "not a container (too short to hold a header)"
             : "not a container (its first field is no residue count)";
}

// Before the password is asked for: a file that cannot be a container is told
// so, in place of a wrong password or a damaged header. Returns the exit code
// then, else -1 (one that cannot be opened is left to the command to report).
int RefuseNoContainer(const std::string& container, const char* verb, std::FILE* err) {
  InputFile file;
  if (!file.Open(container)) return -1;
  const ContainerHeader header = CheckContainerHeader(file);
  if (header == ContainerHeader::kFits) return -1;
  Say(err, std::string("cannot ") + verb + " '" + container + "': " + NotContainer(header));
  return kExitFailure;
}

// The password from --password-file, or typed on the terminal: twice where a
// typing error would make a container nobody can open (pack), once where it would
// only be refused (unpack). Returns -1 when there is one, otherwise the exit code.
int ObtainPassword(const ParsedArgs& parsed, std::FILE* err, bool confirm,
                   std::optional<FilePassword>& password) {
  std::string message;
  const auto file = parsed.options.find("password-file");
  if (file != parsed.options.end()) {
    std::string line;
    switch (ReadPasswordLine(file->second, FilePassword::kMaxBytes, line)) {
      case PasswordLine::kRead:
        break;
      case PasswordLine::kLonger:
        std::fprintf(err,
                     "resicrypt-cli: a file password has 3 to 23 bytes; the first line of '%s' "
                     "is longer\n",
                     file->second.c_str());
        return kExitUsage;
      case PasswordLine::kNotRead:
        std::fprintf(err, "resicrypt-cli: cannot read password file '%s'\n", file->second.c_str());
        return kExitFailure;
    }
    password = FilePasswordFromLine(line, message);
    if (!password) {
      std::fprintf(err, "resicrypt-cli: %s\n", message.c_str());
      return kExitUsage;
    }
    return -1;
  }
  if (!StdinIsTerminal()) {
    std::fprintf(err,
                 "resicrypt-cli: give --password-file FILE (standard input is not a terminal)\n");
    return kExitUsage;
  }
  std::string typed;
  std::string again;
  if (!ReadPasswordNoEcho("Password: ", typed) ||
      (confirm && !ReadPasswordNoEcho("Password again: ", again))) {
    std::fprintf(err, "resicrypt-cli: no password given\n");
    return kExitUsage;
  }
  if (confirm && typed != again) {
    std::fprintf(err, "resicrypt-cli: the two passwords differ\n");
    return kExitUsage;
  }
  password = FilePasswordFromLine(typed, message);
  if (!password) {
    std::fprintf(err, "resicrypt-cli: %s\n", message.c_str());
    return kExitUsage;
  }
  return -1;
}

// Unpacking stops at the first wrong check-block position, as an OK answer does
// in the window; refused records are reported as they come. Names are converted
// from the container's code page.
class CliUnpackEvents : public UnpackEvents {
 public:
  CliUnpackEvents(std::FILE* err, const NameCodePage& codePage, UnpackProgress* progress = nullptr)
      : err_(err), codePage_(codePage), progress_(progress) {}
  bool WrongPassword() override { return true; }
  void RecordStarting(std::int32_t index, std::int32_t /*fileCount*/) override {
    if (progress_ != nullptr) progress_->RecordStarting(index);
  }
  void BlocksStarting(std::int32_t blockCount) override {
    if (progress_ != nullptr) progress_->BlocksStarting(blockCount);
  }
  void BlockDue(std::int32_t block) override {
    if (progress_ != nullptr) progress_->BlockDue(block);
  }
  void BlocksDone() override {
    if (progress_ != nullptr) progress_->BlocksDone();
  }
  void RecordRefused(const FileProblem& problem) override {
    Say(err_, RecordMessage(problem, codePage_));
  }
  void RecordDamaged(const DamagedRecord& record) override {
    Say(err_, DamagedMessage(record, codePage_, true));
  }
  std::string OutputName(const std::string& storedName, std::string& problem) override {
    std::string name;
    if (!codePage_.FromStored(storedName, name)) {
      problem = "name not in code page " + std::to_string(codePage_.Number());
    }
    return name;
  }

 protected:
  std::FILE* err_;
  NameCodePage codePage_;
  UnpackProgress* progress_;
};

// --to-stdout: only the record asked for (or the first, when none is named) is
// unpacked, into output, a file without a name; the others are counted.
class StreamUnpackEvents : public CliUnpackEvents {
 public:
  StreamUnpackEvents(std::FILE* err, const NameCodePage& codePage, std::string wanted,
                     OutputFile& output, UnpackProgress* progress)
      : CliUnpackEvents(err, codePage, progress), wanted_(std::move(wanted)), output_(output) {}
  // Every record counts, also one whose name is refused before it is asked for.
  void RecordStarting(std::int32_t index, std::int32_t fileCount) override {
    CliUnpackEvents::RecordStarting(index, fileCount);
    ++records_;
  }
  // The name matters only to find the record: one that has none here is
  // written all the same when it is the one wanted.
  std::string OutputName(const std::string& storedName, std::string& /*problem*/) override {
    std::string unconverted;
    const std::string name = CliUnpackEvents::OutputName(storedName, unconverted);
    choosing_ = !taken_ && (wanted_.empty() || (unconverted.empty() && name == wanted_));
    taken_ = taken_ || choosing_;
    return choosing_ ? kPlainName : std::string();
  }
  OutputFile* OutputInstead() override {
    return std::exchange(choosing_, false) ? &output_ : nullptr;
  }
  // Nothing of a damaged record reaches standard output, nor stays on disk.
  void RecordDamaged(const DamagedRecord& record) override {
    Say(err_, DamagedMessage(record, codePage_, false));
  }
  bool Taken() const { return taken_; }
  int Records() const { return records_; }

 private:
  static constexpr const char* kPlainName = "file";  // passes the stored-name checks
  std::string wanted_;
  OutputFile& output_;
  bool choosing_ = false;
  bool taken_ = false;
  int records_ = 0;
};

}  // namespace

std::optional<FilePassword> FilePasswordFromLine(const std::string& line, std::string& message) {
  KeyProblem problem = KeyProblem::kNone;
  std::optional<FilePassword> password = FilePassword::From(line, &problem);
  if (problem == KeyProblem::kHasNul) {
    message = "the password contains a NUL byte";
  } else if (!password) {
    message = "a file password has 3 to 23 bytes; this one has " + std::to_string(line.size());
  }
  return password;
}

namespace {

// Every source must be a readable file that unpacks again under its own name,
// next to the others, and none may be the container: all are checked, and all
// problems told, before anything is written. The source '-' has no file yet: its
// place in sources is emptied. The name each source is stored under goes into
// storedNames. False when any is refused.
bool SourcesPass(const ParsedArgs& parsed, const std::string& target, bool toStdout,
                 std::vector<std::string>& sources, std::vector<std::string>& storedNames,
                 std::FILE* err) {
  const NameCodePage codePage = CodePageOf(parsed);
  std::vector<std::string> names;
  std::vector<FileProblem> refused;
  for (std::string& source : sources) {
    const bool isStdin = source == "-";
    names.push_back(isStdin ? parsed.options.at("stdin-name") : OwnName(source));
    if (isStdin) source.clear();
    storedNames.emplace_back();
    if (!codePage.ToStored(names.back(), storedNames.back())) {
      refused.push_back(
          {FileProblemKind::kNameNotStorable, 0, source, NotInCodePage(codePage, names.back())});
    }
  }
#ifdef _WIN32
  // Windows judges the names as its file system will see them.
  const std::vector<FileProblem> problems = SourceProblems(
      sources, toStdout ? std::string() : target, names, SourceCheck::kNamesAndFiles);
#else
  // Elsewhere as the bytes they are stored as, which Windows will see (a name
  // not in the code page, refused above, as it is).
  // Double-byte code pages' trail bytes may be a backslash or a letter: their
  // names are judged in UTF-8 instead.
  const bool doubleByte = codePage.Number() >= 932 && codePage.Number() <= 950;
  std::vector<std::string> judged = storedNames;
  for (std::size_t k = 0; k < judged.size(); ++k) {
    if (judged[k].empty() || doubleByte) judged[k] = names[k];
  }
  const std::vector<FileProblem> problems = SourceProblems(
      sources, toStdout ? std::string() : target, judged, SourceCheck::kNamesAndFiles,
      [&codePage, doubleByte](std::string_view name) {
        return doubleByte ? FileNameKey(name) : codePage.NameKey(name);
      });
#endif
  for (const FileProblem& problem : problems) refused.push_back(problem);
  for (const FileProblem& problem : refused) Say(err, SourceProblemMessage(problem));
  return refused.empty();
}

// Standard input into a held file in scratch, which takes the empty place of '-'
// in sources; an exit status when it cannot be held, -1 when it is.
int HoldStandardInput(std::FILE* in, const PrivateFolder& scratch, HeldStream& held,
                      std::vector<std::string>& sources, std::FILE* err) {
  for (std::string& source : sources) {
    if (!source.empty()) continue;
    switch (held.Hold(in, scratch, std::numeric_limits<std::int32_t>::max())) {
      case StreamCopy::kDone:
        break;
      case StreamCopy::kTooLong:
        Say(err, "cannot pack '-': standard input holds more than 2147483647 bytes");
        return kExitUsage;
      case StreamCopy::kNotRead:
        Say(err, "cannot pack '-': standard input could not be read");
        return kExitFailure;
      default:
        // "File too large" past ulimit -f, "No space left on device" when it is full.
        Say(err, "cannot pack '-': it could not be held in the temporary folder " + scratch.Path() +
                     SystemReason({FileProblemKind::kNotWritten, 0, {}, {}, held.Error()}));
        return kExitFailure;
    }
    source = held.Path();
  }
  return -1;
}

}  // namespace

int RunPack(const ParsedArgs& parsed, std::FILE* in, std::FILE* out, std::FILE* err) {
  const std::string& target = parsed.options.at("o");
  const bool toStdout = target == "-";
  if (toStdout && StdoutIsTerminal()) {
    Say(err, "a container is not written to a terminal: redirect standard output, or give -o FILE");
    return kExitUsage;
  }
  std::vector<std::string> sources = parsed.positional;
  std::vector<std::string> storedNames;
  if (!SourcesPass(parsed, target, toStdout, sources, storedNames, err)) return kExitUsage;
  std::optional<FilePassword> password;
  const int status = ObtainPassword(parsed, err, true, password);
  if (status >= 0) return status;
  ProgressLine progress(err, ProgressChoiceOf(parsed));

  // Standard input and a container for standard output pass through files.
  PrivateFolder scratch;
  const bool fromStdin = parsed.options.count("stdin-name") != 0;
  if ((fromStdin || toStdout) && !scratch.Create()) {
    Say(err, "cannot make a temporary folder for standard input or output");
    return kExitFailure;
  }
  HeldStream held;
  if (const int heldStatus = HoldStandardInput(in, scratch, held, sources, err); heldStatus >= 0) {
    return heldStatus;
  }
  const std::string& stdinPath = held.Path();
  const std::string container = toStdout ? scratch.Path() + "container.yal" : target;
  auto workspace = std::make_unique<CipherWorkspace>();
  std::vector<std::int64_t> sizes(sources.size(), 0);
  for (std::size_t k = 0; progress.Active() && k < sources.size(); ++k) {
    InputFile source;
    if (source.Open(sources[k])) sizes[k] = source.Size();
  }
  PackProgress events(progress, sizes, password->Length());
  PackOutcome outcome =
      PackContainer(*workspace, *password, container, sources, events, {}, storedNames);
  progress.Finish();
  if (outcome.result == PackResult::Packed) {
    if (!toStdout) return kExitOk;
    if (FileToStream(container, out) == StreamCopy::kDone) return kExitOk;
    Say(err, "standard output could not be written");
    return kExitFailure;
  }
  for (FileProblem& problem : outcome.problems) {
    if ((!stdinPath.empty() && problem.path == stdinPath) ||
        (toStdout && problem.path == container)) {
      problem.path = "-";
    }
  }
  if (toStdout) outcome.problems.push_back({FileProblemKind::kContainerKept, 0, "-", {}});
  SayPackProblems(err, outcome, target, static_cast<int>(sources.size()));
  return kExitFailure;
}

namespace {

// unpack --to-stdout: the one file is decrypted into a temporary file that has
// no name (on Windows: that goes when it is closed, however the process ends),
// and goes to out once the whole container has been read.
int UnpackToStream(CipherWorkspace& workspace, const FilePassword& password,
                   const ParsedArgs& parsed, std::FILE* out, std::FILE* err,
                   UnpackProgress& progress, ProgressLine& line) {
  const std::string& container = parsed.positional.at(0);
  const std::string wanted = parsed.positional.size() > 1 ? parsed.positional[1] : std::string();
  const std::string temporary = TemporaryFolder();
  OutputFile held;
  if (!held.CreateUnnamed(temporary)) {
    Say(err, "cannot make a temporary file in " + temporary + " for standard output" +
                 SystemReason({FileProblemKind::kOutputNotMade, 0, {}, {}, held.SystemError()}));
    return kExitFailure;
  }
  StreamUnpackEvents events(err, CodePageOf(parsed), wanted, held, &progress);
  UnpackOutcome outcome = UnpackContainer(workspace, password, container, {}, events);
  line.Finish();
  for (FileProblem& problem : outcome.problems) {
    if (problem.kind == FileProblemKind::kOutputNotWritten) {
      problem.detail = "the temporary folder " + temporary;
    }
  }
  if (outcome.result == UnpackResult::PasswordLengthWrong ||
      outcome.result == UnpackResult::PasswordWrong) {
    Say(err, "wrong password for '" + container + "'");
    return kExitUsage;
  }
  if (outcome.result != UnpackResult::Unpacked) {
    SayUnpackProblems(err, outcome, CodePageOf(parsed));
    return kExitFailure;
  }
  if (outcome.damaged > 0) {
    Say(err, "nothing written to standard output");
    return kExitFailure;
  }
  if (wanted.empty() && events.Records() > 1) {
    Say(err, "'" + container + "' holds " + Files(events.Records()) +
                 ": name the one for standard output (see 'resicrypt-cli list')");
    return kExitUsage;
  }
  if (!events.Taken()) {
    Say(err, wanted.empty() ? "'" + container + "' holds no file"
                            : "no file '" + wanted + "' in '" + container + "'");
    return kExitFailure;
  }
  if (HeldToStream(held.File(), held.Position(), out) != StreamCopy::kDone) {
    Say(err, "standard output could not be written");
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

namespace {

// The records' sizes, the progress line's total, read only when the line is drawn.
std::vector<std::int64_t> RecordSizes(const ProgressLine& line, const std::string& container,
                                      const FilePassword& password) {
  std::vector<std::int64_t> sizes;
  if (!line.Active()) return sizes;
  for (const FileRecord& record : ListContainer(container, password.Length()).records) {
    sizes.push_back(record.size);
  }
  return sizes;
}

}  // namespace

int RunUnpack(const ParsedArgs& parsed, std::FILE* out, std::FILE* err) {
  const std::string& container = parsed.positional.at(0);
  const auto folderOption = parsed.options.find("C");
  if (folderOption != parsed.options.end()) {
    const FileType type = FileTypeAt(folderOption->second);
    if (type != FileType::kFolder) {
      Say(err, "cannot unpack into '" + folderOption->second + "': " +
                   (type == FileType::kMissing
                        ? std::string("no such folder")
                        : "not a folder (" + std::string(FileTypeWords(type)) + ")"));
      return kExitUsage;
    }
  }
  // Made full first: "Y:box.yal" lies in Y:'s current folder, not in ours.
  std::string folder = folderOption != parsed.options.end() ? FullPath(folderOption->second)
                                                            : FolderPart(FullPath(container));
  // FolderPart keeps what ends in a separator: a two-byte character's trail byte
  // may be a backslash's and ends nothing.
  if (!folder.empty() && FolderPart(folder) != folder) folder += kNativeSeparator;
  if (const int refused = RefuseNoContainer(container, "unpack", err); refused >= 0) return refused;
  std::optional<FilePassword> password;
  const int status = ObtainPassword(parsed, err, false, password);
  if (status >= 0) return status;

  auto workspace = std::make_unique<CipherWorkspace>();
  ProgressLine line(err, ProgressChoiceOf(parsed));
  UnpackProgress progress(line, RecordSizes(line, container, *password), password->Length());
  if (parsed.options.count("to-stdout") != 0) {
    return UnpackToStream(*workspace, *password, parsed, out, err, progress, line);
  }
  const NameCodePage codePage = CodePageOf(parsed);
  CliUnpackEvents events(err, codePage, &progress);
  const UnpackOutcome outcome = UnpackContainer(*workspace, *password, container, folder, events);
  line.Finish();
  switch (outcome.result) {
    case UnpackResult::Unpacked:
      if (outcome.refused == 0 && outcome.damaged == 0) return kExitOk;
      if (outcome.refused > 0) Say(err, Files(outcome.refused) + " not unpacked");
      if (outcome.damaged > 0) Say(err, Files(outcome.damaged) + " damaged");
      return kExitFailure;
    case UnpackResult::BytesAfterRecords:
      if (outcome.refused > 0) Say(err, Files(outcome.refused) + " not unpacked");
      if (outcome.damaged > 0) Say(err, Files(outcome.damaged) + " damaged");
      break;
    case UnpackResult::PasswordLengthWrong:
    case UnpackResult::PasswordWrong:
      std::fprintf(err, "resicrypt-cli: wrong password for '%s'\n", container.c_str());
      return kExitUsage;
    case UnpackResult::ContainerNotOpened:
    case UnpackResult::ContainerDamaged:
    case UnpackResult::RecordStopped:
    case UnpackResult::OutputStopped:
      break;
  }
  SayUnpackProblems(err, outcome, codePage);
  return kExitFailure;
}

namespace {

// test: damaged records are told as they come, whole ones counted.
class TestEvents : public UnpackEvents {
 public:
  TestEvents(std::FILE* err, const NameCodePage& codePage, UnpackProgress& progress)
      : err_(err), codePage_(codePage), progress_(progress) {}
  bool WrongPassword() override { return true; }
  void RecordStarting(std::int32_t index, std::int32_t /*fileCount*/) override {
    progress_.RecordStarting(index);
  }
  void BlocksStarting(std::int32_t blockCount) override { progress_.BlocksStarting(blockCount); }
  void BlockDue(std::int32_t block) override { progress_.BlockDue(block); }
  void BlocksDone() override { progress_.BlocksDone(); }
  void RecordDamaged(const DamagedRecord& record) override {
    Say(err_, DamagedMessage(record, codePage_, false));
  }
  void RecordWhole(const UnpackedRecord& /*report*/) override { ++whole_; }
  int Whole() const { return whole_; }

 private:
  std::FILE* err_;
  NameCodePage codePage_;
  UnpackProgress& progress_;
  int whole_ = 0;
};

}  // namespace

int RunTest(const ParsedArgs& parsed, std::FILE* out, std::FILE* err) {
  const std::string& container = parsed.positional.at(0);
  if (const int refused = RefuseNoContainer(container, "test", err); refused >= 0) return refused;
  std::optional<FilePassword> password;
  const int status = ObtainPassword(parsed, err, false, password);
  if (status >= 0) return status;
  auto workspace = std::make_unique<CipherWorkspace>();
  const NameCodePage codePage = CodePageOf(parsed);
  ProgressLine line(err, ProgressChoiceOf(parsed));
  UnpackProgress progress(line, RecordSizes(line, container, *password), password->Length());
  TestEvents events(err, codePage, progress);
  const UnpackOutcome outcome = TestContainer(*workspace, *password, container, events);
  line.Finish();
  switch (outcome.result) {
    case UnpackResult::PasswordLengthWrong:
    case UnpackResult::PasswordWrong:
      Say(err, "wrong password for '" + container + "'");
      return kExitUsage;
    case UnpackResult::Unpacked:
      if (outcome.damaged == 0) {
        std::fprintf(out, "%s: %s whole\n", container.c_str(), Files(events.Whole()).c_str());
        return std::fflush(out) == 0 ? kExitOk : kExitFailure;
      }
      Say(err, std::to_string(outcome.damaged) + " of " +
                   Files(outcome.damaged + events.Whole()) + " damaged");
      return kExitFailure;
    default:
      if (outcome.damaged > 0) Say(err, Files(outcome.damaged) + " damaged");
      break;
  }
  SayUnpackProblems(err, outcome, codePage);
  return kExitFailure;
}

int RunList(const ParsedArgs& parsed, std::FILE* out, std::FILE* err) {
  const std::string& container = parsed.positional.at(0);
  int blockLength = 0;
  if (parsed.options.count("password-file") != 0) {
    std::optional<FilePassword> password;
    const int status = ObtainPassword(parsed, err, false, password);
    if (status >= 0) return status;
    blockLength = password->Length();
  }
  const ContainerListing listing = ListContainer(container, blockLength);
  std::string problem;
  switch (listing.result) {
    case ListResult::Listed:
      break;
    case ListResult::NotOpened:
      problem = listing.fileType != FileType::kRegular ? NotRegular(FileTypeWords(listing.fileType))
                                                       : "container cannot be opened";
      if (listing.systemError != 0) problem += ": " + SystemErrorText(listing.systemError);
      break;
    case ListResult::NotContainer:
      problem = NotContainer(listing.header);
      break;
    case ListResult::Damaged:
      problem = "container damaged (its records do not fill it)";
      break;
    case ListResult::BlockLengthUnknown:
      problem = "block length cannot be told from the container; give the password";
      break;
  }
  if (!problem.empty()) {
    Say(err, "cannot list '" + container + "': " + problem);
    return kExitFailure;
  }
  const NameCodePage codePage = CodePageOf(parsed);
  for (const FileRecord& record : listing.records) {
    std::fprintf(out, "%11d  %s\n", static_cast<int>(record.size),
                 ShownName(codePage, record.name).c_str());
  }
  return std::fflush(out) == 0 ? kExitOk : kExitFailure;
}

}  // namespace resicrypt::cli
