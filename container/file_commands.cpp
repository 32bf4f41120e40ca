#include "container/file_commands.h"

#include <string>
#include <string_view>
#include <vector>

#include "container/container_path.h"
#include "container/file_cipher.h"
#include "container/pack.h"
#include "container/unpack.h"

namespace resicrypt {

const char kProductLine[] = " Product = E-mail: resicrypt@example.org";

namespace {

constexpr char kEncryptFilter[] =
    "All(*.*)|*.*|Text(*.TXT)|*.TXT|Word(*.DOC)|*.DOC|Excel(*.XLS)|*.XLS|Pic(*.JPG)|*.JPG|"
    "CPP(*.CPP)|*.CPP|HTML(*.HTM)|*.HTM|";
constexpr char kDecryptFilter[] = "*.*|*.yal";
constexpr char kContainerExtension[] = "yal";

// The password as the workspace takes it: the field's text up to a NUL byte.
std::string_view CopiedText(const std::string& text) {
  return std::string_view(text).substr(0, text.find('\0'));
}
bool TooShort(std::string_view password) {
  return password.size() < static_cast<std::size_t>(kMinFilePasswordLength);
}
bool TooLong(std::string_view password) {
  return password.size() > static_cast<std::size_t>(kMaxFilePasswordLength);
}

// k * 1000 div F, the position of ProgressBar2 before file k.
int FilesPosition(std::int32_t index, std::int32_t fileCount) {
  return static_cast<int>(static_cast<std::int64_t>(index) * 1000 / fileCount);
}

void AppendLines(FormPort& form, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) form.ReportAppend(line);
}

// Encrypt File's view of the packing: ProgressBar2 over the files, ProgressBar1
// over the full blocks, pending events before each bar move, four lines per file.
class EncryptFileEvents : public PackEvents {
 public:
  explicit EncryptFileEvents(FormPort& form) : form_(form) {}

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
    form_.ProcessPendingEvents();
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
  FormPort& form_;
};

// Decrypt File's view of the unpacking: the OK/Cancel question per differing
// check-block position, the bars (position before pending events here), seven
// lines per file.
class DecryptFileEvents : public UnpackEvents {
 public:
  explicit DecryptFileEvents(FormPort& form) : form_(form) {}

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
    form_.ProcessPendingEvents();
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
  void RecordRefused(const std::string& line) override { form_.ReportAppend(line); }

 private:
  FormPort& form_;
};

}  // namespace

void Button2Click(FormPort& form) {
  // The fields are compared, then measured, before anything is copied into the
  // workspace, so no text can overrun its password buffer.
  const std::string edit1 = form.Edit1Text();
  const std::string edit2 = form.Edit2Text();
  const std::string_view password = CopiedText(edit1);
  if (edit1 != edit2) {
    form.ShowMessage("Password 1 and Password 2 must equal. ");
    return;
  }
  if (TooShort(password) || TooLong(password)) {
    form.ShowMessage("Password 1 and Password 2 must equal or small than three ");
    return;
  }

  form.ReportClear();
  form.ReportAppend(kProductLine);
  form.SetOpenDialogMultiSelect();
  std::vector<std::string> sources;
  if (!form.RunOpenDialog(kEncryptFilter, sources) || sources.empty()) return;
  form.ReportReplaceAll(sources);
  std::string containerPath;
  if (!form.RunSaveDialog(kContainerExtension, containerPath)) return;

  CipherWorkspace& workspace = form.Workspace();
  SetPasswordText2(workspace, CopiedText(edit2));
  EncryptFileEvents events(form);
  const PackOutcome outcome = PackContainer(workspace, password, containerPath, sources, events);
  switch (outcome.result) {
    case PackResult::Packed:
      form.ShowProgress(ProgressBar::Files, false);
      break;
    case PackResult::ContainerNotCreated:
      AppendLines(form, outcome.lines);
      break;
    case PackResult::SourceNotRead:
    case PackResult::ContainerNotWritten:
      AppendLines(form, outcome.lines);
      form.ShowProgress(ProgressBar::Blocks, false);
      form.ShowProgress(ProgressBar::Files, false);
      break;
  }
}

void Button1Click(FormPort& form) {
  const std::string edit1 = form.Edit1Text();
  const std::string edit2 = form.Edit2Text();
  const std::string_view password = CopiedText(edit1);
  if (edit1 != edit2) {
    form.ShowMessage("Password 1 and Password 2 must equal ");
    return;
  }
  if (TooShort(password)) {
    form.ShowMessage("Password 1 and Password 2 must equal or small than three  ");
    return;
  }
  if (TooLong(password)) {
    form.ShowMessage("Password 1 and Password 2 must equal or small than three ");
    return;
  }

  form.ReportAppend(kProductLine);
  std::vector<std::string> chosen;
  if (!form.RunOpenDialog(kDecryptFilter, chosen) || chosen.empty()) return;
  form.ReportReplaceAll(chosen);
  const std::string& containerPath = chosen.front();

  CipherWorkspace& workspace = form.Workspace();
  SetPasswordText2(workspace, CopiedText(edit2));
  DecryptFileEvents events(form);
  const UnpackOutcome outcome =
      UnpackContainer(workspace, password, containerPath, FolderPart(containerPath), events);
  switch (outcome.result) {
    case UnpackResult::Unpacked:
      form.ShowProgress(ProgressBar::Files, false);
      break;
    case UnpackResult::ContainerNotOpened:
    case UnpackResult::ContainerDamaged:
      AppendLines(form, outcome.lines);
      break;
    case UnpackResult::PasswordLengthWrong:
      form.ShowMessage(" Password's length is wrong.");
      form.ShowEdit1();
      break;
    case UnpackResult::PasswordWrong:
      form.ShowEdit1();
      break;
    case UnpackResult::RecordStopped:
      AppendLines(form, outcome.lines);
      form.ShowProgress(ProgressBar::Files, false);
      break;
    case UnpackResult::OutputStopped:
      AppendLines(form, outcome.lines);
      form.ShowProgress(ProgressBar::Blocks, false);
      form.ShowProgress(ProgressBar::Files, false);
      break;
  }
}

}  // namespace resicrypt
