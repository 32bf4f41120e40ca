#include "cli/file_command.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "cli/password_prompt.h"
#include "container/container_path.h"
#include "container/file_cipher.h"
#include "container/pack.h"
#include "container/unpack.h"

namespace resicrypt::cli {

namespace {

#ifdef _WIN32
constexpr char kNativeSeparator = '\\';
#else
constexpr char kNativeSeparator = '/';
#endif

// The first line of a file, without its LF and a CR right before it.
bool ReadFirstLine(const std::string& path, std::string& line) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return false;
  std::getline(in, line, '\n');
  if (in.bad()) return false;
  if (!in.eof() && !line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void Say(std::FILE* err, const std::string& message) {
  std::fprintf(err, "resicrypt-cli: %s\n", message.c_str());
}

// "Record 3 not unpacked (reason)[, unpacking stopped][: name]"
std::string RecordMessage(const FileProblem& problem) {
  std::string reason = problem.detail;
  if (problem.kind == FileProblemKind::kContainerNotRead) reason = "container could not be read";
  if (problem.kind == FileProblemKind::kOutputNotMade) reason = "output file not created";
  if (problem.kind == FileProblemKind::kOutputNotWritten) reason = "output file not written";
  std::string message = "Record " + std::to_string(problem.record) + " not unpacked (" + reason + ")";
  if (problem.kind != FileProblemKind::kRecordRefused) message += ", unpacking stopped";
  if (!problem.path.empty()) message += ": " + PrintableName(problem.path);
  return message;
}

// What stopped a pack, one message per problem.
void SayPackProblems(std::FILE* err, const PackOutcome& outcome) {
  for (const FileProblem& problem : outcome.problems) {
    switch (problem.kind) {
      case FileProblemKind::kPathTooLong:
        Say(err, "Path longer than 255 bytes: " + problem.path);
        break;
      case FileProblemKind::kTooManyFiles:
        Say(err, "Too many files");
        break;
      case FileProblemKind::kTooLarge:
        Say(err, "File larger than 2147483647 bytes: " + problem.path);
        break;
      case FileProblemKind::kNotReadToEnd:
        Say(err, "File could not be read to its end: " + problem.path);
        break;
      case FileProblemKind::kNotKept:
        Say(err, "Write File not Open");
        break;
      case FileProblemKind::kNotWritten:
        Say(err, "Container not written: " + problem.path);
        break;
      default:
        break;
    }
  }
}

// What stopped an unpack that got past the container's header.
void SayUnpackProblems(std::FILE* err, const UnpackOutcome& outcome) {
  for (const FileProblem& problem : outcome.problems) {
    switch (problem.kind) {
      case FileProblemKind::kPathTooLong:
        Say(err, "Path longer than 255 bytes: " + problem.path);
        break;
      case FileProblemKind::kNotOpened:
        break;
      case FileProblemKind::kContainerDamaged:
        Say(err, "Container damaged (" + problem.detail + "), nothing unpacked");
        break;
      case FileProblemKind::kOutputNotMade:
      case FileProblemKind::kOutputNotWritten:
        Say(err, "Write File not Open");
        Say(err, RecordMessage(problem));
        break;
      default:
        Say(err, RecordMessage(problem));
        break;
    }
  }
}

// The password from --password-file, or typed twice on the terminal. Returns -1
// when there is one, otherwise the exit code.
int ObtainPassword(const ParsedArgs& parsed, std::FILE* err, std::optional<FilePassword>& password) {
  std::string message;
  const auto file = parsed.options.find("password-file");
  if (file != parsed.options.end()) {
    std::string line;
    if (!ReadFirstLine(file->second, line)) {
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
  if (!ReadPasswordNoEcho("Password: ", typed) || !ReadPasswordNoEcho("Password again: ", again)) {
    std::fprintf(err, "resicrypt-cli: no password given\n");
    return kExitUsage;
  }
  if (typed != again) {
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

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
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
  // Every source must unpack again under its own name, next to the others.
  std::set<std::string> names;
  for (const std::string& source : sources) {
    const std::string name = FileNamePart(source);
    std::error_code error;
    std::string problem = StoredNameProblem(name);
    if (problem.empty() && std::filesystem::is_directory(std::filesystem::path(source), error)) {
      problem = "a folder, not a file";
    }
    if (problem.empty() && !names.insert(UpperAscii(name)).second) {
      problem = "another source has the same name";
    }
    if (!problem.empty()) {
      std::fprintf(err, "resicrypt-cli: cannot pack '%s': %s\n", source.c_str(), problem.c_str());
      return kExitUsage;
    }
  }
  std::optional<FilePassword> password;
  const int status = ObtainPassword(parsed, err, password);
  if (status >= 0) return status;

  auto workspace = std::make_unique<CipherWorkspace>();
  PackEvents events;
  const PackOutcome outcome = PackContainer(*workspace, *password, container, sources, events);
  if (outcome.result == PackResult::Packed) return kExitOk;
  if (outcome.result == PackResult::ContainerNotCreated) {
    std::fprintf(err, "resicrypt-cli: cannot create container '%s'\n", container.c_str());
    SayPackProblems(err, outcome);
    return kExitFailure;
  }
  if (outcome.result == PackResult::SourceNotRead) Say(err, "Read File not Open");
  if (outcome.result == PackResult::ContainerNotWritten) Say(err, "Write File not Open");
  SayPackProblems(err, outcome);
  if (outcome.result == PackResult::SourceNotRead) {
    std::fprintf(err, "resicrypt-cli: %d of %d files packed; '%s' is incomplete\n",
                 static_cast<int>(outcome.packed), static_cast<int>(sources.size()),
                 container.c_str());
  }
  return kExitFailure;
}

int RunUnpack(const ParsedArgs& parsed, std::FILE* err) {
  const std::string& container = parsed.positional.at(0);
  const auto folderOption = parsed.options.find("C");
  std::string folder =
      folderOption != parsed.options.end() ? folderOption->second : FolderPart(container);
  if (!folder.empty() && !IsPathSeparator(folder.back())) folder += kNativeSeparator;
  std::optional<FilePassword> password;
  const int status = ObtainPassword(parsed, err, password);
  if (status >= 0) return status;

  auto workspace = std::make_unique<CipherWorkspace>();
  CliUnpackEvents events(err);
  const UnpackOutcome outcome = UnpackContainer(*workspace, *password, container, folder, events);
  switch (outcome.result) {
    case UnpackResult::Unpacked:
      if (outcome.refused == 0) return kExitOk;
      std::fprintf(err, "resicrypt-cli: %d files not unpacked\n",
                   static_cast<int>(outcome.refused));
      return kExitFailure;
    case UnpackResult::PasswordLengthWrong:
    case UnpackResult::PasswordWrong:
      std::fprintf(err, "resicrypt-cli: wrong password for '%s'\n", container.c_str());
      return kExitUsage;
    case UnpackResult::ContainerNotOpened:
      std::fprintf(err, "resicrypt-cli: cannot open container '%s'\n", container.c_str());
      SayUnpackProblems(err, outcome);
      return kExitFailure;
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
    const int status = ObtainPassword(parsed, err, password);
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
