#include "app/file_commands.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "container/container_path.h"
#include "container/file_cipher.h"
#include "container/platform_file.h"

namespace resicrypt {

namespace {

// The contact line that opens the report of both file commands.
constexpr char kProductLine[] = " Product = E-mail: resicrypt@example.org";
constexpr char kEncryptFilter[] =
    "All(*.*)|*.*|Text(*.TXT)|*.TXT|Word(*.DOC)|*.DOC|Excel(*.XLS)|*.XLS|Pic(*.JPG)|*.JPG|"
    "CPP(*.CPP)|*.CPP|HTML(*.HTM)|*.HTM|";
constexpr char kDecryptFilter[] = "*.*|*.yal";
constexpr char kContainerExtension[] = "yal";
constexpr char kWriteFileNotOpen[] = "Write File not Open ";
constexpr char kReadFileNotOpen[] = "Read File not Open ";
// The one message for a password that is too long or holds a NUL, and Encrypt
// File's for one that is too short.
constexpr char kPasswordNotUsable[] = "Password 1 and Password 2 must equal or small than three ";

// The password as the workspace takes it: the field's text up to a NUL byte.
std::string_view CopiedText(const std::string& text) {
  return std::string_view(text).substr(0, text.find('\0'));
}

// k * 1000 div F, the position of ProgressBar2 before file k.
int FilesPosition(std::int32_t index, std::int32_t fileCount) {
  return static_cast<int>(static_cast<std::int64_t>(index) * 1000 / fileCount);
}

// "Path longer than 255 bytes: path" and the other lines that name the file a
// problem is about, such as "Not a regular file (a named pipe): path" for a
// source, container or target that is a folder, a device, a pipe or a socket.
// Empty for the other kinds.
std::string PathLine(const FileProblem& problem) {
  static constexpr std::pair<FileProblemKind, const char*> kPathTexts[] = {
      {FileProblemKind::kPathTooLong, "Path longer than 255 bytes"},
      {FileProblemKind::kTooLarge, "File larger than 2147483647 bytes"},
      {FileProblemKind::kNotReadToEnd, "File could not be read to its end"},
      {FileProblemKind::kGrewWhileRead, "File changed while it was read"},
      {FileProblemKind::kContainerKept, "Container kept as it was"},
      {FileProblemKind::kNotWritten, "Container not written"},
  };
  if (problem.kind == FileProblemKind::kNotRegularFile) {
    return "Not a regular file (" + problem.detail + "): " + problem.path;
  }
  for (const auto& [kind, text] : kPathTexts) {
    if (kind == problem.kind) return text + (": " + problem.path);
  }
  return {};
}

// Encrypt File's line for a problem: for sources refused before anything is
// written (the two files named where two would unpack to one name), and for what
// stopped the packing; empty where the first line of the stop says it all.
std::string PackProblemLine(const FileProblem& problem) {
  switch (problem.kind) {
    case FileProblemKind::kNameNotStorable:
      return problem.path + " cannot be packed (" + problem.detail + ")";
    case FileProblemKind::kNameTaken:
      return problem.path + " has the same name as " + problem.detail +
             "; pack them into two containers";
    case FileProblemKind::kContainerIsSource:
      return problem.path + " is the container itself; save the container under another name";
    case FileProblemKind::kTooManyFiles:
      return "Too many files";
    case FileProblemKind::kNotKept:
      return kWriteFileNotOpen;
    case FileProblemKind::kNotOpened:
      // "File cannot be opened (No such file or directory): path"
      return "File cannot be opened" +
             (problem.systemError != 0 ? " (" + SystemErrorText(problem.systemError) + ")"
                                       : std::string()) +
             ": " + problem.path;
    default:
      return PathLine(problem);
  }
}

// The two fields must hold the same text, and that text must make a file
// password. The fields are compared, then measured, before anything is copied
// into the workspace, so no text can overrun its password buffer.
std::optional<FilePassword> TakeFilePassword(FormPort& form, const char* differMessage,
                                             const char* tooShortMessage) {
  const std::string edit1 = form.Edit1Text();
  if (edit1 != form.Edit2Text()) {
    form.ShowMessage(differMessage);
    return std::nullopt;
  }
  KeyProblem problem = KeyProblem::kNone;
  std::optional<FilePassword> password = FilePassword::From(CopiedText(edit1), &problem);
  if (!password) {
    form.ShowMessage(problem == KeyProblem::kTooShort ? tooShortMessage : kPasswordNotUsable);
  }
  return password;
}

// Hides ProgressBar1, then ProgressBar2, as asked.
void HideBars(FileCommandView& view, bool blocks, bool files) {
  if (blocks) view.ShowProgress(ProgressBar::Blocks, false);
  if (files) view.ShowProgress(ProgressBar::Files, false);
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
  void SourcePacked(const FileRecord& record, std::int32_t fullBlocks, int blockLength,
                    int residueCount) override {
    form_.ReportAppend("File Byte Amount = " + std::to_string(record.size));
    form_.ReportAppend("File Byte Part   = " + std::to_string(fullBlocks));
    form_.ReportAppend("Open Long Byte   = " + std::to_string(blockLength));
    form_.ReportAppend("Close Long Byte  = " + std::to_string(residueCount));
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
  void RecordDamaged(const DamagedRecord& record) override {
    form_.ReportAppend(DamagedLine(record));
  }

 private:
  FileCommandView& form_;
};

// Encrypt File's stop: "Write File not Open " when the container cannot be made
// or written, "Read File not Open " and what the source did when one stops the
// packing, and then whether a container that stood there was kept; the bars
// that are still shown are hidden.
void RunEncryptFile(const FileJob& job, CipherWorkspace& workspace, FileCommandView& view) {
  // Every source is opened and measured before the container is begun: one that
  // cannot be packed whole (missing, unreadable, no file, too large) ends the
  // command with nothing written, as a container whose file count promised
  // records it lacks would be damaged; one that stood at the name stays as it was.
  if (const std::vector<FileProblem> refused =
          SourceProblems(job.sources, job.container, {}, SourceCheck::kNamesAndFiles);
      !refused.empty()) {
    view.ReportAppend(kReadFileNotOpen);
    for (const FileProblem& problem : refused) {
      if (const std::string line = PackProblemLine(problem); !line.empty()) view.ReportAppend(line);
    }
    if (FileTypeAt(job.container) != FileType::kMissing) {
      view.ReportAppend(PathLine({FileProblemKind::kContainerKept, 0, job.container, {}}));
    }
    return;
  }
  EncryptFileEvents events(view);
  const PackOutcome outcome =
      PackContainer(workspace, job.password, job.container, job.sources, events);
  const PackResult result = outcome.result;
  if (result != PackResult::Packed) {
    view.ReportAppend(result == PackResult::SourceNotRead ? kReadFileNotOpen : kWriteFileNotOpen);
    for (const FileProblem& problem : outcome.problems) {
      if (const std::string line = PackProblemLine(problem); !line.empty()) view.ReportAppend(line);
    }
  }
  HideBars(view, result == PackResult::SourceNotRead || result == PackResult::ContainerNotWritten,
           result != PackResult::ContainerNotCreated);
}

// Decrypt File's stop lines, which begin with a blank, then the bars or the
// password field.
void RunDecryptFile(const FileJob& job, CipherWorkspace& workspace, FileCommandView& view) {
  DecryptFileEvents events(view);
  const UnpackOutcome outcome = UnpackContainer(workspace, job.password, job.container,
                                                FolderPart(FullPath(job.container)), events);
  for (const FileProblem& problem : outcome.problems) {
    switch (problem.kind) {
      case FileProblemKind::kNotOpened:
        view.ReportAppend(std::string(" ") + kReadFileNotOpen);
        break;
      case FileProblemKind::kPathTooLong:
      case FileProblemKind::kNotRegularFile:
        view.ReportAppend(std::string(" ") + kReadFileNotOpen);
        view.ReportAppend(" " + PathLine(problem));
        break;
      case FileProblemKind::kContainerDamaged:
        view.ReportAppend(" Container damaged (" + problem.detail + "), nothing unpacked");
        break;
      case FileProblemKind::kBytesAfterRecords:
        // The file count says fewer records than the container holds: " Container
        // damaged (its records do not fill it): 812 bytes after record 1 not unpacked".
        view.ReportAppend(
            " Container damaged (its records do not fill it): " + problem.detail + " bytes after " +
            (problem.record > 0 ? "record " + std::to_string(problem.record) : "its header") +
            " not unpacked");
        break;
      case FileProblemKind::kOutputNotMade:
      case FileProblemKind::kOutputNotWritten:
        view.ReportAppend(std::string(" ") + kWriteFileNotOpen);
        view.ReportAppend(RecordLine(problem));
        break;
      default:
        view.ReportAppend(RecordLine(problem));
        break;
    }
  }
  const UnpackResult result = outcome.result;
  if (result == UnpackResult::PasswordLengthWrong) view.ShowMessage(" Password's length is wrong.");
  if (result == UnpackResult::PasswordLengthWrong || result == UnpackResult::PasswordWrong) {
    view.ShowEdit1();
  } else {
    HideBars(
        view, result == UnpackResult::OutputStopped,
        result != UnpackResult::ContainerNotOpened && result != UnpackResult::ContainerDamaged);
  }
}

}  // namespace

std::optional<FileJob> PrepareEncryptFile(FormPort& form, const std::vector<std::string>* dropped) {
  std::optional<FilePassword> password =
      TakeFilePassword(form, "Password 1 and Password 2 must equal. ", kPasswordNotUsable);
  if (!password) return std::nullopt;

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
    form.ShowMessage(PackProblemLine(refused.front()));
    return std::nullopt;
  }

  SetPasswordText2(form.Workspace(), password->Bytes());
  return FileJob{CipherDirection::kEncrypt, std::move(*password), std::move(sources),
                 std::move(containerPath)};
}

std::optional<FileJob> PrepareDecryptFile(FormPort& form, const std::string* dropped) {
  // The too-short message differs from Encrypt File's in its trailing blanks.
  std::optional<FilePassword> password =
      TakeFilePassword(form, "Password 1 and Password 2 must equal ",
                       "Password 1 and Password 2 must equal or small than three  ");
  if (!password) return std::nullopt;

  form.ReportAppend(kProductLine);
  std::vector<std::string> chosen;
  if (dropped != nullptr) {
    chosen = {*dropped};
  } else if (!form.RunOpenDialog(kDecryptFilter, chosen) || chosen.empty()) {
    return std::nullopt;
  }
  form.ReportReplaceAll(chosen);

  SetPasswordText2(form.Workspace(), password->Bytes());
  return FileJob{CipherDirection::kDecrypt, std::move(*password), {}, chosen.front()};
}

CipherDirection DropDirection(const std::vector<std::string>& files) {
  if (files.size() != 1) return CipherDirection::kEncrypt;
  const std::string& name = files.front();
  std::string end = name.size() >= 4 ? name.substr(name.size() - 4) : std::string();
  for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return end == ".yal" ? CipherDirection::kDecrypt : CipherDirection::kEncrypt;
}

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
    HideBars(view, true, true);
  }
}

// " Record 2 damaged: 3 blocks failed their check, the first at byte 1472,
// written as b.txt.damaged: b.txt" (or ", nothing written" where a file of its
// name, or of that one, stands and is kept)
std::string DamagedLine(const DamagedRecord& record) {
  const std::string name = PrintableName(record.name);
  return " Record " + std::to_string(record.index) +
         " damaged: " + std::to_string(record.failedBlocks) +
         (record.failedBlocks == 1 ? " block failed its" : " blocks failed their") +
         " check, the first at byte " + std::to_string(record.firstByte) +
         (record.keptPath.empty() ? ", nothing written" : ", written as " + name + kDamagedSuffix) +
         ": " + name;
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
