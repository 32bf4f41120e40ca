// The window's real modal boxes and file dialogs, answered from a thread timer,
// and the helpers that prepare and read the dialogs' data.
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/ui/ui_test_support.h"
#include "ui/wide_names_win.h"

#include <shlobj.h>

namespace resicrypt::testing {
namespace {

using C = ControlId;

// The test exe's own name is the title of every box it shows.
constexpr const char* kTitle = "ui_window_tests";

TEST(DialogHelpers, FilterBecomesNulSeparatedList) {
  using namespace std::string_literals;
  EXPECT_EQ(DialogFilter("*.*|*.yal"), "*.*\0*.yal\0\0"s);
  EXPECT_EQ(DialogFilter("All(*.*)|*.*|Text(*.TXT)|*.TXT|"),
            "All(*.*)\0*.*\0Text(*.TXT)\0*.TXT\0\0"s);
  EXPECT_EQ(DialogFilter(""), "");
}

TEST(DialogHelpers, ChosenFilesAreFullPaths) {
  using namespace std::string_literals;
  using Names = std::vector<std::wstring>;
  const std::wstring one = L"C:\\data\\report.doc\0\0"s;
  EXPECT_EQ(ChosenFiles(one.data(), one.size()), Names{L"C:\\data\\report.doc"});
  const std::wstring several = L"C:\\data\0b.txt\0a.txt\0\0"s;
  EXPECT_EQ(ChosenFiles(several.data(), several.size()),
            (Names{L"C:\\data\\b.txt", L"C:\\data\\a.txt"}));
  const std::wstring atRoot = L"D:\\\0x.yal\0y.yal\0\0"s;
  EXPECT_EQ(ChosenFiles(atRoot.data(), atRoot.size()), (Names{L"D:\\x.yal", L"D:\\y.yal"}));
  const std::wstring empty(4, L'\0');
  EXPECT_TRUE(ChosenFiles(empty.data(), empty.size()).empty());
}

TEST(DialogHelpers, TitleIsTheFileNameWithoutExtension) {
  EXPECT_EQ(FileTitleOf("C:\\Tools\\Resicrypt.exe"), "Resicrypt");
  EXPECT_EQ(FileTitleOf("C:\\a.b\\Kor.vane.exe"), "Kor.vane");
  EXPECT_EQ(FileTitleOf("D:Plain"), "Plain");
  EXPECT_EQ(ExecutableTitle(), kTitle);
}

TEST(DialogHelpers, ErrorTextGetsAFullStopAfterCharactersThatSortAfterIt) {
  EXPECT_EQ(ErrorBoxText("Disk full"), "Disk full.");
  EXPECT_EQ(ErrorBoxText("Access denied."), "Access denied.");
  EXPECT_EQ(ErrorBoxText("Why?"), "Why?.");              // '?' sorts after '.'
  EXPECT_EQ(ErrorBoxText("Code 0x1F/"), "Code 0x1F/.");  // '/' right after '.'
  EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");             // '!' sorts before '.'
  EXPECT_EQ(ErrorBoxText("Range -"), "Range -");         // '-' too
  EXPECT_EQ(ErrorBoxText("caf\xE9"), "caf\xE9.");        // bytes count unsigned
  EXPECT_EQ(ErrorBoxText(""), "");
}

class RealDialogsTest : public FormTest {
 protected:
  void SetUp() override { Create(TForm1::Options{}); }

  static bool CentredOnScreen(const RECT& box) {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const int dx = (box.left + box.right) - screenWidth;
    const int dy = (box.top + box.bottom) - screenHeight;
    return dx >= -2 && dx <= 2 && dy >= -2 && dy <= 2;
  }
};

TEST_F(RealDialogsTest, MessageBoxShowsOneTextWithOkCentredAndTitled) {
  ModalDriver driver;
  driver.Answer(IDOK);
  Form().ShowMessage("Password 1 and Password 2 must equal. ");
  ASSERT_EQ(driver.seen.size(), 1u);
  const SeenBox& box = driver.seen[0];
  EXPECT_EQ(box.title, kTitle);
  EXPECT_EQ(box.text, "Password 1 and Password 2 must equal. ");
  EXPECT_EQ(box.visibleButtons, 1);
  EXPECT_EQ(box.icon, nullptr);
  EXPECT_TRUE(CentredOnScreen(box.rect));
  EXPECT_TRUE(IsWindowEnabled(Window())) << "the window takes input again";
}

TEST_F(RealDialogsTest, QuestionBoxTellsWhichButtonWasPressed) {
  ModalDriver driver;
  driver.Answer(IDCANCEL);
  driver.Answer(IDOK);
  EXPECT_FALSE(Form().AskOkCancel("Password is wrong", "Change Password"));
  EXPECT_TRUE(Form().AskOkCancel("Password is wrong", "Change Password"));
  ASSERT_EQ(driver.seen.size(), 2u);
  EXPECT_EQ(driver.seen[0].title, "Change Password");
  EXPECT_EQ(driver.seen[0].text, "Password is wrong");
  EXPECT_EQ(driver.seen[0].visibleButtons, 2);
  EXPECT_TRUE(CentredOnScreen(driver.seen[0].rect));
}

TEST_F(RealDialogsTest, ErrorThrownByAButtonHandlerEndsInTheErrorBox) {
  FormTest::TearDown();
  TForm1::Options options;
  options.commands.button5Click = [](FormPort&) { throw std::runtime_error("Disk full"); };
  Create(std::move(options));
  Click(C::RadioButton3);
  ModalDriver driver;
  driver.Answer(IDOK);
  Click(C::Button5);
  ASSERT_EQ(driver.seen.size(), 1u);
  EXPECT_EQ(driver.seen[0].title, kTitle);
  EXPECT_EQ(driver.seen[0].text, "Disk full.");
  EXPECT_EQ(driver.seen[0].icon, LoadIconA(nullptr, IDI_ERROR));
  EXPECT_NE(driver.seen[0].icon, nullptr);
  EXPECT_TRUE(IsWindow(Window()));
  EXPECT_TRUE(Shown(C::Memo1)) << "the window keeps its state";
}

// Types into the file dialog's name box and presses OK.
ModalDriver::Step TypeAndOk(std::string text) {
  return [text](HWND dialog) {
    constexpr int kFileNameBox = 0x47C;  // cmb13
    // The dialogs are the wide ones: their own messages take wide text.
    const std::wstring wide = WidePath(text);
    SendMessageW(dialog, CDM_SETCONTROLTEXT, kFileNameBox, reinterpret_cast<LPARAM>(wide.c_str()));
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return true;
  };
}

TEST_F(RealDialogsTest, OpenDialogReturnsTheChosenFilesAsFullPaths) {
  TempFolder folder;
  const std::string a = folder.Add("a.txt");
  const std::string b = folder.Add("b.txt");
  Form().SetOpenDialogMultiSelect();
  ModalDriver driver;
  driver.Then(TypeAndOk(folder.Path()));  // into the folder
  driver.Then(TypeAndOk("\"a.txt\" \"b.txt\""));
  std::vector<std::string> files;
  ASSERT_TRUE(Form().RunOpenDialog("All(*.*)|*.*|Text(*.TXT)|*.TXT|", files));
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(lstrcmpiA(files[0].c_str(), a.c_str()), 0) << files[0];
  EXPECT_EQ(lstrcmpiA(files[1].c_str(), b.c_str()), 0) << files[1];

  ModalDriver cancel;
  cancel.Answer(IDCANCEL);
  EXPECT_FALSE(Form().RunOpenDialog("*.*|*.yal", files));
}

TEST_F(RealDialogsTest, SaveDialogAddsTheDefaultExtension) {
  TempFolder folder;
  folder.Expect("box.yal");
  ModalDriver driver;
  driver.Then(TypeAndOk(folder.Path() + "\\box"));
  std::string path;
  ASSERT_TRUE(Form().RunSaveDialog("yal", path));
  EXPECT_EQ(lstrcmpiA(path.c_str(), (folder.Path() + "\\box.yal").c_str()), 0) << path;
}

// The file dialogs open in the user's Documents folder, then where the files last
// chosen were: never in the program's own folder.
TEST_F(RealDialogsTest, FileDialogsOpenInDocumentsThenWhereTheLastFilesWere) {
  std::vector<std::wstring> opened;
  const ModalDriver::Step noteAndCancel = [&opened](HWND dialog) {
    wchar_t folder[MAX_PATH] = {};
    SendMessageW(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
    opened.push_back(folder);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return true;
  };
  TempFolder folder;
  const std::string a = folder.Add("a.txt");
  ModalDriver driver;
  driver.Then(noteAndCancel);
  driver.Then(TypeAndOk(a));
  driver.Then(noteAndCancel);
  driver.Then(noteAndCancel);
  std::vector<std::string> files;
  std::string path;
  EXPECT_FALSE(Form().RunOpenDialog("*.*|*.yal", files));
  EXPECT_TRUE(Form().RunOpenDialog("*.*|*.yal", files));
  EXPECT_FALSE(Form().RunOpenDialog("*.*|*.yal", files));
  EXPECT_FALSE(Form().RunSaveDialog("yal", path));
  wchar_t documents[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents),
            S_OK);
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(lstrcmpiW(opened[0].c_str(), documents), 0);
  for (int k : {1, 2}) EXPECT_EQ(lstrcmpiW(opened[k].c_str(), WidePath(folder.Path()).c_str()), 0);
}

}  // namespace
}  // namespace resicrypt::testing
