// The DDE conversation through the in-memory window and a recording back link:
// every step of a conversation, its failures, and the order of events.
#include "app/dde_service.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/text_cipher.h"
#include "fake_back_link.h"
#include "fake_form.h"
#include "app/cipher_gate.h"

namespace resicrypt {
namespace {

using testing::FakeBackLink;
using testing::FakeForm;
using Lines = std::vector<std::string>;

const std::string kInitialReport = "View  Encrypt File the Report  or Decrypt  File the Report";
const std::string kInitialMemo = " Write here data for Encrypt or Decrypt";
const std::string kCallerPath = "C:\\Tools\\Caller.exe";

// The window with a hook in its modal message box, which runs a nested event
// loop in the real window.
class NestingForm final : public FakeForm {
 public:
  std::function<void()> duringMessage;
  void ShowMessage(const std::string& text) override {
    FakeForm::ShowMessage(text);
    if (duringMessage) duringMessage();
  }
};

std::string Encrypted(FakeForm& form, const std::string& password, const std::string& line) {
  return EncryptText(form.workspace, form.alphabet, password, line);
}

class DdeConversation : public ::testing::Test {
 protected:
  void Macro(const std::string& text) { service.DdeServerConv1ExecuteMacro(SplitMacroLines(text)); }
  // Open, file name, operation and password.
  void StartConversation(const std::string& operation, const std::string& password) {
    service.DdeServerConv1Open();
    Macro(kCallerPath);
    Macro(operation);
    Macro(password);
  }

  NestingForm form;
  FakeBackLink link;
  DdeService service{form, link};
};

TEST(DdeMacroLines, EndAtCarriageReturnLineFeedOrBoth) {
  const std::vector<std::pair<std::string, Lines>> cases = {
      {"", {}},
      {"Open", {"Open"}},
      {"a\r\nb", {"a", "b"}},
      {"a\rb", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\n\rb", {"a", "", "b"}},  // LF CR is two line ends
      {"a\r\n", {"a"}},            // a closing line end starts no line
      {"a\r\n\r\n", {"a", ""}},
      {"\r\nb", {"", "b"}},
      {"\r", {""}},
      {"a\r\r\nb", {"a", "", "b"}},
  };
  for (const auto& [text, lines] : cases) {
    EXPECT_EQ(SplitMacroLines(text), lines) << "text of " << text.size() << " bytes";
  }
}

TEST(DdeNames, ServiceNameIsTheExecutableFileNameBeforeItsFirstDot) {
  EXPECT_EQ(DdeServiceName("C:\\Apps\\Resicrypt.exe"), "Resicrypt");
  EXPECT_EQ(DdeServiceName("C:\\Programs\\Korvane.exe"), "Korvane");
  EXPECT_EQ(DdeServiceName("C:\\old.dir\\Res.v3.exe"), "Res");
  EXPECT_EQ(DdeServiceName("Z:/build/windows/ui/Resicrypt.exe"), "Resicrypt");
  EXPECT_EQ(DdeServiceName("Resicrypt"), "Resicrypt");
}

TEST(DdeNames, CallerServiceNameEndsWhereTheExtensionTextFirstOccurs) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C:\\Tools\\Caller.exe", "Caller"},
      {"C:\\A\\x.exe.exe", "x"},      // the extension text occurs twice
      {"C:\\A\\x.EXE.exe", "x.EXE"},  // letter case counts
      {"C:\\A\\report.v2.exe", "report.v2"},
      {"C:\\A\\noextension", ""},           // no extension: no name
      {"C:\\dotted.dir\\noextension", ""},  // a dot in a folder is no extension
      {"D:caller.com", "caller"},           // after the drive colon
      {"C:/Tools/Caller.exe", "Caller"},    // forward slashes separate folders too
      {"Caller.exe", "Caller"},
      {"", ""},
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(CallerServiceName(path), name) << path;
}

TEST(DdeNames, StartErrorTextsCarryTheCodeInHex) {
  EXPECT_EQ(DdeStartErrorText(0x4006, false), "An error returned from DDE  ($04006)");
  EXPECT_EQ(DdeStartErrorText(0x400f, false), "An error returned from DDE  ($0400f)");
  EXPECT_EQ(DdeStartErrorText(0x4008, true), "Error occurred when DDE ran out of memory ($04008)");
}

TEST_F(DdeConversation, FullEncryptConversationLinksBackAndRepliesEachLine) {
  service.DdeServerConv1Open();
  EXPECT_EQ(form.label3, "Connected");
  Macro(kCallerPath);
  EXPECT_EQ(link.calls, (Lines{"manual", "application C:\\Tools\\Caller.exe",
                               "link Caller DdeServerConv1", "open"}));
  EXPECT_EQ(form.label4, "Call Connect");
  Macro("Open");
  Macro("secret");
  EXPECT_EQ(form.edit1, "secret");
  EXPECT_EQ(form.edit2, "secret");
  EXPECT_EQ(form.workingPassword, "secret");
  Macro("Hello, world");
  Macro("second line");
  EXPECT_EQ(link.sent, (Lines{Encrypted(form, "secret", "Hello, world"),
                              Encrypted(form, "secret", "second line")}));
  EXPECT_EQ(link.calls.back(), "execute");  // without waiting
  EXPECT_EQ(service.State().MacroStep, 5);
  EXPECT_EQ(service.State().MacroMode, ConversationMode::Encrypt);
  EXPECT_EQ(service.State().CallerPath, kCallerPath);
  EXPECT_EQ(service.State().OperationWord, "Open");
  // Hide Password is checked: no copies in the memo or the list.
  EXPECT_EQ(form.memo, Lines{kInitialMemo});
  EXPECT_EQ(form.report, Lines{kInitialReport});
  EXPECT_TRUE(form.messages.empty());
}

// A line that would not come back whole (a byte 255 in its last block of 7) is
// answered with the empty text; the next line as ever.
TEST_F(DdeConversation, ALineThatWouldNotComeBackGetsAnEmptyReply) {
  StartConversation("Open", "secret1");
  Macro("abc\xFF");
  Macro("abc");
  EXPECT_EQ(link.sent, (Lines{"", Encrypted(form, "secret1", "abc")}));
}

TEST_F(DdeConversation, DecryptConversationRepliesThePlainText) {
  const std::string plain = "attack at dawn";
  const std::string cipher = Encrypted(form, "tiger7", plain);
  ASSERT_EQ(cipher.find_first_of("\r\n"), std::string::npos) << "pick another line";
  StartConversation("Close", "tiger7");
  Macro(cipher);
  EXPECT_EQ(service.State().MacroMode, ConversationMode::Decrypt);
  EXPECT_EQ(link.sent, Lines{plain});
}

TEST_F(DdeConversation, EchoesEveryFirstLineWhileHidePasswordIsUnchecked) {
  form.hidePassword = false;
  StartConversation("Open", "abcdefghijklmnopqrst");  // 20 characters
  Macro("text");
  const std::string password17 = "abcdefghijklmnopq";
  EXPECT_EQ(form.workingPassword, password17);
  EXPECT_EQ(form.edit1, password17);
  EXPECT_EQ(form.edit2, password17);
  const std::string result = Encrypted(form, password17, "text");
  EXPECT_EQ(form.memo, (Lines{kInitialMemo, kCallerPath, "Open", "abcdefghijklmnopqrst", "text"}));
  // The list shows the password uncut.
  EXPECT_EQ(form.report,
            (Lines{kInitialReport, kCallerPath, "Open", "abcdefghijklmnopqrst", "text", result}));
  EXPECT_EQ(link.sent, Lines{result});
}

TEST_F(DdeConversation, ShortPasswordIsNotTakenAndTheNextMacroIsThePasswordAgain) {
  form.hidePassword = false;
  StartConversation("Open", "ab");
  EXPECT_EQ(service.State().MacroStep, 2);
  EXPECT_EQ(form.workingPassword, "ab");  // left there
  EXPECT_EQ(form.edit1, "742");
  EXPECT_EQ(form.edit2, "742");
  EXPECT_TRUE(form.messages.empty());
  Macro("abcd");
  EXPECT_EQ(service.State().MacroStep, 3);
  Macro("first line");
  EXPECT_EQ(link.sent, Lines{Encrypted(form, "abcd", "first line")});
  // The memo saw the short password, the list did not.
  EXPECT_EQ(form.memo, (Lines{kInitialMemo, kCallerPath, "Open", "ab", "abcd", "first line"}));
  EXPECT_EQ(form.report,
            (Lines{kInitialReport, kCallerPath, "Open", "abcd", "first line", link.sent.front()}));
}

TEST_F(DdeConversation, PasswordOfExactlyThreeOrSeventeenCharactersIsKeptWhole) {
  StartConversation("Open", "xyz");
  EXPECT_EQ(form.workingPassword, "xyz");
  EXPECT_EQ(service.State().MacroStep, 3);
  StartConversation("Open", "12345678901234567");
  EXPECT_EQ(form.workingPassword, "12345678901234567");
  EXPECT_EQ(form.edit1, "12345678901234567");
}

TEST_F(DdeConversation, OperationOtherThanOpenOrCloseGivesNoReplies) {
  form.hidePassword = false;
  StartConversation("open", "secret");
  EXPECT_EQ(service.State().MacroMode, ConversationMode::None);
  EXPECT_EQ(service.State().OperationWord, "open");
  Macro("line one");
  Macro("line two");
  EXPECT_EQ(service.State().MacroStep, 5);
  EXPECT_TRUE(link.sent.empty());
  EXPECT_EQ(link.calls.back(), "open");  // no execute at all
  EXPECT_EQ(form.memo,
            (Lines{kInitialMemo, kCallerPath, "open", "secret", "line one", "line two"}));
  EXPECT_EQ(form.report, (Lines{kInitialReport, kCallerPath, "open", "secret"}));
}

TEST_F(DdeConversation, OnlyTheFirstLineOfAMacroCounts) {
  form.hidePassword = false;
  service.DdeServerConv1Open();
  Macro("C:\\Tools\\Caller.exe\r\nC:\\Other\\Else.exe");
  Macro("Close\nOpen");
  Macro("secret\rignored");
  const std::string cipher = Encrypted(form, "secret", "one");
  ASSERT_EQ(cipher.find_first_of("\r\n"), std::string::npos) << "pick another line";
  Macro(cipher + "\r\nnot this");
  EXPECT_EQ(link.calls[2], "link Caller DdeServerConv1");
  EXPECT_EQ(service.State().MacroMode, ConversationMode::Decrypt);
  EXPECT_EQ(form.workingPassword, "secret");
  EXPECT_EQ(link.sent, Lines{"one"});
  EXPECT_EQ(form.memo, (Lines{kInitialMemo, kCallerPath, "Close", "secret", cipher}));
}

TEST_F(DdeConversation, EmptyMacroIsIgnored) {
  form.hidePassword = false;
  service.DdeServerConv1Open();
  service.DdeServerConv1ExecuteMacro({});
  EXPECT_EQ(service.State().MacroStep, 0);
  EXPECT_EQ(form.memo, Lines{kInitialMemo});
  Macro(kCallerPath);  // still taken as the file name
  EXPECT_EQ(service.State().CallerPath, kCallerPath);
  // An empty first line is a line: it is taken as the operation word.
  Macro("\r\nOpen");
  EXPECT_EQ(service.State().MacroStep, 2);
  EXPECT_EQ(service.State().MacroMode, ConversationMode::None);
}

TEST_F(DdeConversation, CallerThatDoesNotAnswerGetsDisconnectMessageAndConversationGoesOn) {
  link.answers = false;
  StartConversation("Open", "secret");
  EXPECT_EQ(form.messages, Lines{"Disconnect"});
  EXPECT_EQ(form.label4, "");
  EXPECT_EQ(form.edit1, "secret");
  Macro("dropped");
  EXPECT_EQ(service.State().MacroStep, 4);
  EXPECT_TRUE(link.sent.empty());  // the closed link drops the result
}

TEST_F(DdeConversation, CloseResetsStateClosesLinkEmptiesHiddenListAndClosesWindow) {
  StartConversation("Open", "secret");
  form.report.push_back("a file report line");
  service.DdeServerConv1Close();
  EXPECT_EQ(service.State().MacroStep, 0);
  EXPECT_EQ(service.State().MacroMode, ConversationMode::None);
  EXPECT_EQ(form.label3, "Disconnect");
  EXPECT_EQ(form.label4, "Call Disconnect");
  EXPECT_EQ(link.calls.back(), "close");
  EXPECT_TRUE(form.report.empty());
  EXPECT_TRUE(form.closed);
}

TEST_F(DdeConversation, CloseKeepsTheListWhileHidePasswordIsUnchecked) {
  form.hidePassword = false;
  StartConversation("Open", "secret");
  service.DdeServerConv1Close();
  EXPECT_EQ(form.report, (Lines{kInitialReport, kCallerPath, "Open", "secret"}));
  EXPECT_TRUE(form.closed);
}

TEST_F(DdeConversation, SecondConversationResetsTheSharedState) {
  StartConversation("Open", "secret");
  Macro("line");
  service.DdeServerConv1Open();
  EXPECT_EQ(service.State().MacroStep, 0);
  EXPECT_EQ(service.State().MacroMode, ConversationMode::None);
  EXPECT_EQ(form.label3, "Connected");
  Macro("C:\\Other\\Second.exe");  // a file name again
  EXPECT_EQ(link.calls[link.calls.size() - 2], "link Second DdeServerConv1");
  Macro("Close");
  EXPECT_EQ(service.State().MacroMode, ConversationMode::Decrypt);
  // The password of the first conversation is still the working password.
  EXPECT_EQ(form.workingPassword, "secret");
}

// The queue: events run one at a time, in order, behind the cipher gate.
class DdeQueue : public DdeConversation {
 protected:
  void PostMacro(const std::string& text) {
    queue.Post({DdeEvent::Kind::Macro, SplitMacroLines(text)});
  }
  CipherGate gate;
  DdeEventQueue queue{service, &gate};
};

TEST_F(DdeQueue, NestedLoopOfDisconnectMessageDoesNotStartTheNextMacro) {
  link.answers = false;
  ConversationState inside;
  form.duringMessage = [&] {
    // The caller goes on while the box is open.
    PostMacro("Open");
    queue.Pump();
    inside = service.State();
  };
  queue.Post({DdeEvent::Kind::Open, {}});
  PostMacro(kCallerPath);
  queue.Pump();
  EXPECT_EQ(inside.MacroStep, 0);
  EXPECT_EQ(inside.OperationWord, "");
  // After the box the waiting macro ran as the operation.
  EXPECT_EQ(service.State().MacroStep, 2);
  EXPECT_EQ(service.State().MacroMode, ConversationMode::Encrypt);
  EXPECT_EQ(queue.PendingCount(), 0u);
}

TEST_F(DdeQueue, TextLinesDuringFileCommandAreAnsweredAfterItInOrder) {
  queue.Post({DdeEvent::Kind::Open, {}});
  for (const char* macro : {kCallerPath.c_str(), "Open", "secret"}) PostMacro(macro);
  queue.Pump();
  ASSERT_EQ(service.State().MacroStep, 3);

  std::size_t sentDuringCommand = 99;
  form.onPendingEvents = [&] {
    PostMacro("first");
    PostMacro("second");
    queue.Pump();
  };
  gate.Hold();
  form.ProcessPendingEvents();
  sentDuringCommand = link.sent.size();
  gate.Release();
  EXPECT_EQ(sentDuringCommand, 0u);
  EXPECT_EQ(link.sent,
            (Lines{Encrypted(form, "secret", "first"), Encrypted(form, "secret", "second")}));
  EXPECT_EQ(queue.PendingCount(), 0u);
}

TEST_F(DdeQueue, ClosingDuringFileCommandWaitsForItAndLaterEventsAreDropped) {
  queue.Post({DdeEvent::Kind::Open, {}});
  queue.Pump();
  bool closedDuringCommand = true;
  form.onPendingEvents = [&] {
    queue.Post({DdeEvent::Kind::Close, {}});
    queue.Post({DdeEvent::Kind::Open, {}});
    queue.Pump();
  };
  gate.Hold();
  form.ProcessPendingEvents();
  closedDuringCommand = form.closed;
  gate.Release();
  EXPECT_FALSE(closedDuringCommand);
  EXPECT_TRUE(form.closed);
  EXPECT_TRUE(queue.Ended());
  EXPECT_EQ(form.label3, "Disconnect");  // the later Open did not run
  PostMacro(kCallerPath);
  queue.Pump();
  EXPECT_EQ(service.State().MacroStep, 0);
}

}  // namespace
}  // namespace resicrypt
