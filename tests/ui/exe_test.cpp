// Resicrypt.exe itself: its version information, icon and manifest, and a start
// that opens Form1 and a close that ends the program.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "container/pack.h"
#include "tests/ui/ui_test_support.h"
#include "ui/form_layout_win.h"

#include <string>
#include <vector>

namespace resicrypt::testing {
namespace {

std::string ExePath() {
  std::string path = RESICRYPT_EXE_PATH;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string VersionValue(const std::vector<char>& info, const std::string& name) {
  struct Translation {
    WORD language;
    WORD codePage;
  };
  Translation* translation = nullptr;
  UINT size = 0;
  if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &size) ||
      size < sizeof(Translation)) {
    return "<no translation>";
  }
  char key[128];
  wsprintfA(key, "\\StringFileInfo\\%04x%04x\\%s", translation->language, translation->codePage,
            name.c_str());
  char* value = nullptr;
  if (!VerQueryValueA(info.data(), key, reinterpret_cast<void**>(&value), &size)) {
    return "<missing>";
  }
  return std::string(value);
}

TEST(ResicryptExe, VersionInformationNamesProductVersionAndMacroOrder) {
  const std::string exe = ExePath();
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &handle);
  ASSERT_GT(size, 0u) << exe;
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));
  EXPECT_EQ(VersionValue(info, "Anahtar"),
            "\"File Name \";\"Open\",\"Close\";\"Cipher\";\"Strings\"");
  EXPECT_EQ(VersionValue(info, "ProductName"), "Resicrypt");
  EXPECT_EQ(VersionValue(info, "ProductVersion"), "3.01");
  EXPECT_EQ(VersionValue(info, "FileVersion"), "3.01");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00030001u);
}

// The exe's resources, read as data.
class ExeResources {
 public:
  ExeResources() : module_(LoadLibraryExA(ExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~ExeResources() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  ExeResources(const ExeResources&) = delete;
  ExeResources& operator=(const ExeResources&) = delete;

  std::string Bytes(LPCSTR type, LPCSTR name) const {
    HRSRC found = FindResourceA(module_, name, type);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module_, found);
    const void* data = LockResource(loaded);
    return std::string(static_cast<const char*>(data), SizeofResource(module_, found));
  }
  explicit operator bool() const { return module_ != nullptr; }

 private:
  HMODULE module_;
};

// The window's icon (1) and the one the .yal file type names as "Resicrypt.exe,-2".
TEST(ResicryptExe, IconsAre32By32In16ColoursAndManifestDeclaresDpiAwareness) {
  ExeResources exe;
  ASSERT_TRUE(exe);
  for (int id : {1, 2}) {
    // Icon group: reserved, type 1, count; then entries of width, height, colour
    // count, reserved, planes, bit count, size, id.
    const std::string group = exe.Bytes(MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(id));
    ASSERT_GE(group.size(), 6u + 14u) << id;
    EXPECT_EQ(static_cast<unsigned char>(group[6]), 32);
    EXPECT_EQ(static_cast<unsigned char>(group[7]), 32);
    EXPECT_EQ(static_cast<unsigned char>(group[8]), 16);
    EXPECT_EQ(static_cast<unsigned char>(group[12]), 4);  // bits per pixel
  }
  EXPECT_NE(exe.Bytes(MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(1)),
            exe.Bytes(MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(2)));
  HICON containerIcon = nullptr;
  EXPECT_EQ(ExtractIconExA(ExePath().c_str(), -2, &containerIcon, nullptr, 1), 1u);
  if (containerIcon != nullptr) DestroyIcon(containerIcon);
  const std::string manifest = exe.Bytes(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));
  EXPECT_NE(manifest.find("<dpiAware"), std::string::npos);
}

// Starts Resicrypt.exe with arguments (a wide command line, as Explorer gives it)
// and finds its Form1 (null when it did not come within 10 s).
HWND StartExe(const std::wstring& arguments, PROCESS_INFORMATION& process) {
  const std::string exe = ExePath();
  std::wstring commandLine = L"\"" + std::wstring(exe.begin(), exe.end()) + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  process = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return nullptr;
  }
  HWND form = nullptr;
  for (int i = 0; i < 200 && form == nullptr; ++i) {
    Sleep(50);
    form = FindTopWindow(process.dwProcessId, kFormClassName, false);
  }
  return form;
}

// Closes the program and waits for its end; its exit code.
DWORD CloseExe(HWND form, PROCESS_INFORMATION& process) {
  if (form != nullptr) PostMessageA(form, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 99);
  }
  DWORD exitCode = 99;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return exitCode;
}

TEST(ResicryptExe, StartsWithForm1AndEndsWhenItCloses) {
  PROCESS_INFORMATION process{};
  const HWND form = StartExe(L"", process);
  if (form != nullptr) {
    EXPECT_EQ(TextOf(form), "Resicrypt V3.01");
    RECT outer{};
    GetWindowRect(form, &outer);
    EXPECT_EQ(outer.left, 3);
    EXPECT_EQ(outer.top, 115);
  } else {
    ADD_FAILURE() << "Form1 did not appear";
  }
  EXPECT_EQ(CloseExe(form, process), 0u);
}

// "--help" or "/?" alone shows a usage box and starts no window; closing the box
// ends the program with 0.
TEST(ResicryptExe, HelpShowsAUsageBoxAndStartsNothing) {
  for (const wchar_t* help : {L"--help", L"/?"}) {
    SCOPED_TRACE(std::string(help, help + wcslen(help)));
    const std::string exe = ExePath();
    std::wstring commandLine = L"\"" + std::wstring(exe.begin(), exe.end()) + L"\" " + help;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    HWND box = nullptr;
    for (int i = 0; i < 200 && box == nullptr; ++i) {
      Sleep(50);
      box = FindTopWindow(process.dwProcessId, "#32770");
    }
    if (box == nullptr) {
      ADD_FAILURE() << "no usage box";
      CloseExe(FindTopWindow(process.dwProcessId, kFormClassName, false), process);
      continue;
    }
    char text[1024] = {};
    GetDlgItemTextA(box, 0xFFFF, text, static_cast<int>(sizeof text));
    EXPECT_EQ(std::string(text).rfind("Usage: Resicrypt.exe [FILE...]", 0), 0u) << text;
    EXPECT_NE(std::string(text).find("\"742\""), std::string::npos) << text;
    EXPECT_EQ(FindTopWindow(process.dwProcessId, kFormClassName, false), nullptr)
        << "Form1 came up";
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(CloseExe(nullptr, process), 0u);
  }
}

// A container on the command line (a double-clicked .yal) is held: once the
// password is typed twice, Decrypt File unpacks it without a dialog. A second
// instance meanwhile comes up without an error box and leaves the DDE service to
// the first.
TEST(ResicryptExe, AContainerOnTheCommandLineIsUnpackedByDecryptFile) {
  TempFolder folder;
  const std::string plain = folder.Add("held.txt", "held text");
  folder.Expect("held box.yal");
  const std::string container = folder.Path() + "\\held box.yal";
  CipherWorkspace workspace{};
  PackEvents quiet;
  ASSERT_EQ(
      PackContainer(workspace, *FilePassword::From("held key"), container, {plain}, quiet).result,
      PackResult::Packed);
  ASSERT_TRUE(DeleteFileA(plain.c_str()));
  PROCESS_INFORMATION first{};
  const HWND form =
      StartExe(L"\"" + std::wstring(container.begin(), container.end()) + L"\"", first);
  ASSERT_NE(form, nullptr);
  const auto item = [form](ControlId id) { return GetDlgItem(form, CommandIdOf(id)); };
  for (int i = 0; i < 100 && SendMessageA(item(ControlId::ListBox1), LB_GETCOUNT, 0, 0) == 0; ++i) {
    Sleep(20);  // the window is shown before it takes the files
  }
  wchar_t line[MAX_PATH] = {};
  SendMessageW(item(ControlId::ListBox1), LB_GETTEXT, 0, reinterpret_cast<LPARAM>(line));
  EXPECT_EQ(std::wstring(line), std::wstring(container.begin(), container.end()));

  PROCESS_INFORMATION second{};
  const HWND secondForm = StartExe(L"", second);
  EXPECT_NE(secondForm, nullptr) << "the second instance's Form1";
  EXPECT_EQ(FindTopWindow(second.dwProcessId, "#32770", false), nullptr)
      << "a box in the second instance";
  EXPECT_EQ(CloseExe(secondForm, second), 0u);

  SendMessageA(item(ControlId::Edit1), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("held key"));
  SendMessageA(item(ControlId::Edit2), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("held key"));
  PostMessageA(item(ControlId::Button1), BM_CLICK, 0, 0);
  for (int i = 0; i < 200 && GetFileAttributesA(plain.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
    Sleep(50);
  }
  Sleep(200);  // the file is put in place complete; let the command end
  EXPECT_EQ(CloseExe(form, first), 0u);
  EXPECT_EQ(TempFolder::Read(plain), "held text");
}

}  // namespace
}  // namespace resicrypt::testing
