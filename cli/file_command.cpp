#include "cli/file_command.h"

#include <memory>
#include <optional>
#include <vector>

#include "cli/password_prompt.h"
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
std::string Files(int count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

std::string NotRegular(const std::string& what) { return "not a regular file (" + what + ")"; }

// "cannot pack 'd2/report.txt': another source has the same name on Windows: 'd1/REPORT.txt'"
std::string SourceProblemMessage(const FileProblem& problem) {
  std::string why = problem.detail;
  if (problem.kind == FileProblemKind::kNameTaken) {
    why = "another source has the same name on Windows: '" + problem.detail + "'";
  }
  if (problem.kind == FileProblemKind::kContainerIsSource) why = "it is the container itself";
  return "cannot pack '" + problem.path + "': " + why;
}

// "Record 3 not unpacked (reason)[, unpacking stopped][: name]"
std::string RecordMessage(const FileProblem& problem) {
  std::string reason = problem.detail;
  if (problem.kind == FileProblemKind::kContainerNotRead) reason = "container could not be read";
  if (problem.kind == FileProblemKind::kOutputNotMade) {
    reason = "output file not created";
    if (!problem.detail.empty()) reason += ": " + problem.detail + " is in the way";
  }
  if (problem.kind == FileProblemKind::kOutputNotWritten) reason = "output file not written";
  reason += SystemReason(problem);
  std::string message = "Record " + std::to_string(problem.record) + " not unpacked (" + reason + ")";
  if (problem.kind != FileProblemKind::kRecordRefused) message += ", unpacking stopped";
  if (!problem.path.empty()) message += ": " + PrintableName(problem.path);
  return message;
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
        Say(err, "nothing packed; " + quoted + " kept as it was");
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
void SayUnpackProblems(std::FILE* err, const UnpackOutcome& outcome) {
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
        Say(err, RecordMessage(problem));
        break;
    }
  }
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

// What a source is when it is no regular file; empty for a file (or nothing).
std::string SourceTypeProblem(const std::string& source) {
  const FileType type = FileTypeAt(source);
  if (type == FileType::kFolder) return "a folder, not a file";
  if (type == FileType::kMissing || type == FileType::kRegular) return std::string();
  return NotRegular(FileTypeWords(type));
}

// Unpacking stops at the first wrong check-block position, as an OK answer does
// in the window; refused records are reported as they come.
class CliUnpackEvents : public UnpackEvents {
 public:
  explicit CliUnpackEvents(std::FILE* err) : err_(err) {}
  bool WrongPassword() override { return true; }
  void RecordRefused(const FileProblem& problem) override { Say(err_, RecordMessage(problem)); }

 private:
  std::FILE* err_;
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

int RunPack(const ParsedArgs& parsed, std::FILE* err) {
  const std::string& container = parsed.options.at("o");
  const std::vector<std::string>& sources = parsed.positional;
  // Every source must be a file that unpacks again under its own name, next to
  // the others, and none may be the container.
  for (const std::string& source : sources) {
    const std::string problem = SourceTypeProblem(source);
    if (!problem.empty()) {
      std::fprintf(err, "resicrypt-cli: cannot pack '%s': %s\n", source.c_str(), problem.c_str());
      return kExitUsage;
    }
  }
  const std::vector<FileProblem> refused = SourceProblems(sources, container);
  for (const FileProblem& problem : refused) Say(err, SourceProblemMessage(problem));
  if (!refused.empty()) return kExitUsage;
  std::optional<FilePassword> password;
  const int status = ObtainPassword(parsed, err, true, password);
  if (status >= 0) return status;

  auto workspace = std::make_unique<CipherWorkspace>();
  PackEvents events;
  const PackOutcome outcome = PackContainer(*workspace, *password, container, sources, events);
  if (outcome.result == PackResult::Packed) return kExitOk;
  SayPackProblems(err, outcome, container, static_cast<int>(sources.size()));
  return kExitFailure;
}

int RunUnpack(const ParsedArgs& parsed, std::FILE* err) {
  const std::string& container = parsed.positional.at(0);
  const auto folderOption = parsed.options.find("C");
  // Made full first: "Y:box.yal" lies in Y:'s current folder, not in ours.
  std::string folder = folderOption != parsed.options.end() ? FullPath(folderOption->second)
                                                            : FolderPart(FullPath(container));
  if (!folder.empty() && !IsPathSeparator(folder.back())) folder += kNativeSeparator;
  std::optional<FilePassword> password;
  const int status = ObtainPassword(parsed, err, false, password);
  if (status >= 0) return status;

  auto workspace = std::make_unique<CipherWorkspace>();
  CliUnpackEvents events(err);
  const UnpackOutcome outcome = UnpackContainer(*workspace, *password, container, folder, events);
  switch (outcome.result) {
    case UnpackResult::Unpacked:
      if (outcome.refused == 0) return kExitOk;
      Say(err, Files(outcome.refused) + " not unpacked");
      return kExitFailure;
    case UnpackResult::BytesAfterRecords:
      if (outcome.refused > 0) Say(err, Files(outcome.refused) + " not unpacked");
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
  SayUnpackProblems(err, outcome);
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
  if (!listing.ok) {
    std::fprintf(err, "resicrypt-cli: cannot list '%s': %s\n", container.c_str(),
                 listing.problem.c_str());
    return kExitFailure;
  }
  for (const FileRecord& record : listing.records) {
    std::fprintf(out, "%11d  %s\n", static_cast<int>(record.size),
                 PrintableName(record.name).c_str());
  }
  return std::fflush(out) == 0 ? kExitOk : kExitFailure;
}

}  // namespace resicrypt::cli
