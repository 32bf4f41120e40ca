#include "app/file_commands.h"

#include <string>
#include <string_view>
#include <vector>

#include "container/container_path.h"
#include "container/file_cipher.h"
#include "container/platform_file.h"

namespace resicrypt {

const char kProductLine[] = " Product = E-mail: resicrypt@example.org";

namespace {

constexpr char kEncryptFilter[] =
    "All(*.*)|*.*|Text(*.TXT)|*.TXT|Word(*.DOC)|*.DOC|Excel(*.XLS)|*.XLS|Pic(*.JPG)|*.JPG|"
    "CPP(*.CPP)|*.CPP|HTML(*.HTM)|*.HTM|";
constexpr char kDecryptFilter[] = "*.*|*.yal";
constexpr char kContainerExtension[] = "yal";
constexpr char kWriteFileNotOpen[] = "Write File not Open ";
constexpr char kReadFileNotOpen[] = "Read File not Open ";

// The password as the workspace takes it: the field's text up to a NUL byte.
std::string_view CopiedText(const std::string& text) {
  return std::string_view(text).substr(0, text.find('\0'));
}

// k * 1000 div F, the position of ProgressBar2 before file k.
int FilesPosition(std::int32_t index, std::int32_t fileCount) {
  return static_cast<int>(static_cast<std::int64_t>(index) * 1000 / fileCount);
}

// "Not a regular file (a named pipe): path": a source, container or target that is
// a folder, a device, a pipe or a socket.
std::string NotRegularLine(const FileProblem& problem) {
  return "Not a regular file (" + problem.detail + "): " + problem.path;
}

// "Container damaged (its records do not fill it): 812 bytes after record 1 not
// unpacked": the file count says fewer records than the container holds.
std::string BytesAfterRecordsText(const FileProblem& problem) {
  return "Container damaged (its records do not fill it): " + problem.detail + " bytes after " +
         (problem.record > 0 ? "record " + std::to_string(problem.record) : "its header") +
         " not unpacked";
}

// One line for sources that are refused before anything is written; the two
// files named where two would unpack to one name.
std::string SourceProblemText(const FileProblem& problem) {
  switch (problem.kind) {
    case FileProblemKind::kNameTaken:
      return problem.path + " has the same name as " + problem.detail +
             "; pack them into two containers";
    case FileProblemKind::kContainerIsSource:
      return problem.path + " is the container itself; save the container under another name";
    default:
      return problem.path + " cannot be packed (" + problem.detail + ")";
  }
}

void AppendLines(FileCommandView& view, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) view.ReportAppend(line);
}

// Encrypt File's view of the packing: ProgressBar2 over the files, ProgressBar1
// over the full blocks, the turn before each bar move, four lines per file.
class EncryptFileEvents : public PackEvents {
 public:
  explicit EncryptFileEvents(FileCommandView& form) : form_(form) {}

  void ContainerCreated() override {
    form_.ShowProgress(ProgressBar::Files, true);
    form_.SetProgressRange(ProgressBar::Files, 1, 1000);
  }
  void SourceStarting(std::int32_t index, std::int32_t fileCount) override {
    form_.ShowProgress(ProgressBar::Blocks, true);
    form_.SetProgressPosition(ProgressBar::Files, FilesPosition(index, fileCount));
  }
  void BlocksStarting(std::int32_t fullBlocks) override {
    form_.SetProgressRange(ProgressBar::Blocks, 1, fullBlocks + 1);
  }
  void BlockDue(std::int32_t block) override {
    form_.BlockTurn();
    form_.SetProgressPosition(ProgressBar::Blocks, block);
  }
  void SourcePacked(const FileRecord& record, std::int32_t fullBlocks, int L, int N) override {
    form_.ReportAppend("File Byte Amount = " + std::to_string(record.size));
    form_.ReportAppend("File Byte Part   = " + std::to_string(fullBlocks));
    form_.ReportAppend("Open Long Byte   = " + std::to_string(L));
    form_.ReportAppend("Close Long Byte  = " + std::to_string(N));
    form_.ShowProgress(ProgressBar::Blocks, false);
  }

 private:
  FileCommandView& form_;
};

// Decrypt File's view of the unpacking: the OK/Cancel question per differing
// check-block position, the bars (position before the turn here), seven lines
// per file.
class DecryptFileEvents : public UnpackEvents {
 public:
  explicit DecryptFileEvents(FileCommandView& form) : form_(form) {}

  bool WrongPassword() override {
    return form_.AskOkCancel("Password is wrong", "Change Password");
  }
  void RecordsStarting() override {
    form_.ShowProgress(ProgressBar::Files, true);
    form_.SetProgressRange(ProgressBar::Files, 1, 1000);
  }
  void RecordStarting(std::int32_t index, std::int32_t fileCount) override {
    form_.SetProgressPosition(ProgressBar::Files, FilesPosition(index, fileCount));
  }
  void BlocksStarting(std::int32_t blockCount) override {
    form_.ShowProgress(ProgressBar::Blocks, true);
    form_.SetProgressRange(ProgressBar::Blocks, 1, blockCount);
  }
  void BlockDue(std::int32_t block) override {
    form_.SetProgressPosition(ProgressBar::Blocks, block);
    form_.BlockTurn();
  }
  void BlocksDone() override { form_.ShowProgress(ProgressBar::Blocks, false); }
  void RecordUnpacked(const UnpackedRecord& report) override {
    form_.ReportAppend(report.record.name);
    form_.ReportAppend("Open File Byte Amount = " + std::to_string(report.record.size));
    form_.ReportAppend("Open File Byte Part   = " + std::to_string(report.blockCount));
    form_.ReportAppend("Open Long Byte        = " + std::to_string(report.blockLength));
    form_.ReportAppend("Close Long Byte       = " + std::to_string(report.residueCount));
    form_.ReportAppend("Close File Byte no    = " + std::to_string(report.plausibility));
    form_.ReportAppend("Close File Byte yes   = " + std::to_string(report.containerSize));
  }
  void RecordRefused(const FileProblem& problem) override {
    form_.ReportAppend(RecordLine(problem));
  }

 private:
  FileCommandView& form_;
};

}  // namespace

std::optional<FileJob> PrepareEncryptFile(FormPort& form, const std::vector<std::string>* dropped) {
  // The fields are compared, then measured, before anything is copied into the
  // workspace, so no text can overrun its password buffer.
  const std::string edit1 = form.Edit1Text();
  const std::string edit2 = form.Edit2Text();
  if (edit1 != edit2) {
    form.ShowMessage("Password 1 and Password 2 must equal. ");
    return std::nullopt;
  }
  std::optional<FilePassword> password = FilePassword::From(CopiedText(edit1));
  if (!password) {
    form.ShowMessage("Password 1 and Password 2 must equal or small than three ");
    return std::nullopt;
  }

  form.ReportClear();
  form.ReportAppend(kProductLine);
  form.SetOpenDialogMultiSelect();
  std::vector<std::string> sources;
  if (dropped != nullptr) {
    sources = *dropped;
  } else if (!form.RunOpenDialog(kEncryptFilter, sources)) {
    return std::nullopt;
  }
  if (sources.empty()) return std::nullopt;
  form.ReportReplaceAll(sources);
  // The save dialog opens where the files are.
  std::string containerPath = FolderPart(sources.front());
  if (!form.RunSaveDialog(kContainerExtension, containerPath)) return std::nullopt;
  if (const std::vector<FileProblem> refused = SourceProblems(sources, containerPath);
      !refused.empty()) {
    form.ShowMessage(SourceProblemText(refused.front()));
    return std::nullopt;
  }

  SetPasswordText2(form.Workspace(), CopiedText(edit2));
  return FileJob{CipherDirection::kEncrypt, std::move(*password), std::move(sources),
                 std::move(containerPath)};
}

std::optional<FileJob> PrepareDecryptFile(FormPort& form, const std::string* dropped) {
  const std::string edit1 = form.Edit1Text();
  const std::string edit2 = form.Edit2Text();
  if (edit1 != edit2) {
    form.ShowMessage("Password 1 and Password 2 must equal ");
    return std::nullopt;
  }
  KeyProblem problem = KeyProblem::kNone;
  std::optional<FilePassword> password = FilePassword::From(CopiedText(edit1), &problem);
  if (!password) {
    // The two texts differ in their trailing blanks.
    form.ShowMessage(problem == KeyProblem::kTooShort
                         ? "Password 1 and Password 2 must equal or small than three  "
                         : "Password 1 and Password 2 must equal or small than three ");
    return std::nullopt;
  }

  form.ReportAppend(kProductLine);
  std::vector<std::string> chosen;
  if (dropped != nullptr) {
    chosen = {*dropped};
  } else if (!form.RunOpenDialog(kDecryptFilter, chosen) || chosen.empty()) {
    return std::nullopt;
  }
  form.ReportReplaceAll(chosen);

  SetPasswordText2(form.Workspace(), CopiedText(edit2));
  return FileJob{CipherDirection::kDecrypt, std::move(*password), {}, chosen.front()};
}

CipherDirection DropDirection(const std::vector<std::string>& files) {
  if (files.size() != 1) return CipherDirection::kEncrypt;
  const std::string& name = files.front();
  std::string end = name.size() >= 4 ? name.substr(name.size() - 4) : std::string();
  for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return end == ".yal" ? CipherDirection::kDecrypt : CipherDirection::kEncrypt;
}

namespace {

void RunEncryptFile(const FileJob& job, CipherWorkspace& workspace, FileCommandView& view) {
  EncryptFileEvents events(view);
  const PackOutcome outcome =
      PackContainer(workspace, job.password, job.container, job.sources, events);
  AppendLines(view, PackStopLines(outcome));
  switch (outcome.result) {
    case PackResult::Packed:
      view.ShowProgress(ProgressBar::Files, false);
      break;
    case PackResult::ContainerNotCreated:
      break;
    case PackResult::SourceNotRead:
    case PackResult::ContainerNotWritten:
      view.ShowProgress(ProgressBar::Blocks, false);
      view.ShowProgress(ProgressBar::Files, false);
      break;
  }
}

void RunDecryptFile(const FileJob& job, CipherWorkspace& workspace, FileCommandView& view) {
  DecryptFileEvents events(view);
  const UnpackOutcome outcome = UnpackContainer(workspace, job.password, job.container,
                                                FolderPart(FullPath(job.container)), events);
  AppendLines(view, UnpackStopLines(outcome));
  switch (outcome.result) {
    case UnpackResult::Unpacked:
    case UnpackResult::BytesAfterRecords:
      view.ShowProgress(ProgressBar::Files, false);
      break;
    case UnpackResult::ContainerNotOpened:
    case UnpackResult::ContainerDamaged:
      break;
    case UnpackResult::PasswordLengthWrong:
      view.ShowMessage(" Password's length is wrong.");
      view.ShowEdit1();
      break;
    case UnpackResult::PasswordWrong:
      view.ShowEdit1();
      break;
    case UnpackResult::RecordStopped:
      view.ShowProgress(ProgressBar::Files, false);
      break;
    case UnpackResult::OutputStopped:
      view.ShowProgress(ProgressBar::Blocks, false);
      view.ShowProgress(ProgressBar::Files, false);
      break;
  }
}

}  // namespace

void RunFileJob(const FileJob& job, CipherWorkspace& workspace, FileCommandView& view) {
  try {
    if (job.direction == CipherDirection::kEncrypt) {
      RunEncryptFile(job, workspace, view);
    } else {
      RunDecryptFile(job, workspace, view);
    }
  } catch (const CommandStopped&) {
    // What a failed run leaves: the container's path as it was; the records
    // unpacked before, and no part of the one under way.
    view.ReportAppend(job.direction == CipherDirection::kEncrypt
                          ? "Stopped: " + job.container + " left as it was"
                          : " Stopped: the file being unpacked was not kept");
    view.ShowProgress(ProgressBar::Blocks, false);
    view.ShowProgress(ProgressBar::Files, false);
  }
}

// Encrypt File's lines: "Write File not Open " when the container cannot be made
// or written, "Read File not Open " and what the source did when one stops the
// packing, and then whether a container that stood there was kept.
std::vector<std::string> PackStopLines(const PackOutcome& outcome) {
  std::vector<std::string> lines;
  switch (outcome.result) {
    case PackResult::Packed:
      return lines;
    case PackResult::ContainerNotCreated:
    case PackResult::ContainerNotWritten:
      lines.push_back(kWriteFileNotOpen);
      break;
    case PackResult::SourceNotRead:
      lines.push_back(kReadFileNotOpen);
      break;
  }
  for (const FileProblem& problem : outcome.problems) {
    switch (problem.kind) {
      case FileProblemKind::kPathTooLong:
        lines.push_back("Path longer than 255 bytes: " + problem.path);
        break;
      case FileProblemKind::kTooManyFiles:
        lines.push_back("Too many files");
        break;
      case FileProblemKind::kTooLarge:
        lines.push_back("File larger than 2147483647 bytes: " + problem.path);
        break;
      case FileProblemKind::kNotReadToEnd:
        lines.push_back("File could not be read to its end: " + problem.path);
        break;
      case FileProblemKind::kGrewWhileRead:
        lines.push_back("File changed while it was read: " + problem.path);
        break;
      case FileProblemKind::kNotRegularFile:
        lines.push_back(NotRegularLine(problem));
        break;
      case FileProblemKind::kNameNotStorable:
      case FileProblemKind::kNameTaken:
      case FileProblemKind::kContainerIsSource:
        lines.push_back(SourceProblemText(problem));
        break;
      case FileProblemKind::kContainerKept:
        lines.push_back("Container kept as it was: " + problem.path);
        break;
      case FileProblemKind::kNotKept:
        lines.push_back(kWriteFileNotOpen);
        break;
      case FileProblemKind::kNotWritten:
        lines.push_back("Container not written: " + problem.path);
        break;
      default:
        break;  // the first line says it all
    }
  }
  return lines;
}

// Decrypt File's lines begin with a blank.
std::vector<std::string> UnpackStopLines(const UnpackOutcome& outcome) {
  std::vector<std::string> lines;
  for (const FileProblem& problem : outcome.problems) {
    switch (problem.kind) {
      case FileProblemKind::kNotOpened:
        lines.push_back(std::string(" ") + kReadFileNotOpen);
        break;
      case FileProblemKind::kPathTooLong:
        lines.push_back(std::string(" ") + kReadFileNotOpen);
        lines.push_back(" Path longer than 255 bytes: " + problem.path);
        break;
      case FileProblemKind::kNotRegularFile:
        lines.push_back(std::string(" ") + kReadFileNotOpen);
        lines.push_back(" " + NotRegularLine(problem));
        break;
      case FileProblemKind::kContainerDamaged:
        lines.push_back(" Container damaged (" + problem.detail + "), nothing unpacked");
        break;
      case FileProblemKind::kBytesAfterRecords:
        lines.push_back(" " + BytesAfterRecordsText(problem));
        break;
      case FileProblemKind::kOutputNotMade:
      case FileProblemKind::kOutputNotWritten:
        lines.push_back(std::string(" ") + kWriteFileNotOpen);
        lines.push_back(RecordLine(problem));
        break;
      default:
        lines.push_back(RecordLine(problem));
        break;
    }
  }
  return lines;
}

// " Record 3 not unpacked (reason)[, unpacking stopped][: name]"
std::string RecordLine(const FileProblem& problem) {
  std::string reason = problem.detail;
  if (problem.kind == FileProblemKind::kContainerNotRead) reason = "container could not be read";
  if (problem.kind == FileProblemKind::kOutputNotMade) reason = "output file not created";
  if (problem.kind == FileProblemKind::kOutputNotWritten) reason = "output file not written";
  if (problem.kind == FileProblemKind::kExistingFileKept) {
    reason = "password is wrong, existing file kept";
  }
  std::string line = " Record " + std::to_string(problem.record) + " not unpacked (" + reason + ")";
  if (problem.kind != FileProblemKind::kRecordRefused &&
      problem.kind != FileProblemKind::kExistingFileKept) {
    line += ", unpacking stopped";
  }
  if (!problem.path.empty()) line += ": " + PrintableName(problem.path);
  return line;
}

}  // namespace resicrypt
