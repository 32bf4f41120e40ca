// The DDE conversation under load and abuse, through the event queue and the
// in-memory window: macros of a megabyte at every step, empty macros, thousands
// of text lines in one conversation, a caller that goes away in the middle.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/text_cipher.h"
#include "fake_back_link.h"
#include "fake_form.h"
#include "app/cipher_gate.h"
#include "app/dde_service.h"

namespace {

using resicrypt::ConversationMode;
using resicrypt::DdeEvent;
using resicrypt::testing::FakeBackLink;
using resicrypt::testing::FakeForm;

class DdeUnderLoad : public ::testing::Test {
 protected:
  void Open() { Post({DdeEvent::Kind::Open, {}}); }
  void Close() { Post({DdeEvent::Kind::Close, {}}); }
  void Macro(const std::string& text) {
    Post({DdeEvent::Kind::Macro, resicrypt::SplitMacroLines(text)});
  }
  void Post(DdeEvent event) {
    queue.Post(std::move(event));
    queue.Pump();
  }
  std::string E(const std::string& key, const std::string& line) {
    return resicrypt::EncryptText(*ws, form.alphabet, key, line);
  }
  std::string D(const std::string& key, const std::string& line) {
    return resicrypt::DecryptText(*ws, form.alphabet, key, line);
  }

  std::unique_ptr<FakeForm> ownedForm = std::make_unique<FakeForm>();
  FakeForm& form = *ownedForm;
  FakeBackLink link;
  resicrypt::CipherGate gate;
  resicrypt::DdeService service{form, link};
  resicrypt::DdeEventQueue queue{service, &gate};
  std::unique_ptr<resicrypt::CipherWorkspace> ws = std::make_unique<resicrypt::CipherWorkspace>();
};

// A megabyte of text with a word every few characters, no line break.
std::string Megabyte(char first) {
  std::string text(std::size_t{1} << 20, 'x');
  for (std::size_t k = 0; k < text.size(); k += 7) text[k] = static_cast<char>(first + k % 26);
  return text;
}

TEST_F(DdeUnderLoad, MacrosOfAMegabyteAtEveryStep) {
  form.hidePassword = false;
  const std::string name = Megabyte('a');
  const std::string password = Megabyte('A');
  const std::string line = Megabyte('a');
  Open();
  Macro("C:\\Tools\\" + name + ".exe");
  EXPECT_EQ(link.linkedService, name);
  Macro("Open\r\n" + Megabyte('b'));  // only the first line counts
  Macro(password + "\r\nsecond line");
  EXPECT_EQ(form.workingPassword, password.substr(0, 17));
  EXPECT_EQ(form.edit1, password.substr(0, 17));
  Macro(line + "\n" + Megabyte('c'));
  Macro(line);
  const std::string expected = E(password.substr(0, 17), line);
  EXPECT_EQ(link.sent, (std::vector<std::string>{expected, expected}));
  EXPECT_EQ(service.State().MacroStep, 5);
  // The echo holds every first line whole, the password uncut among them.
  ASSERT_EQ(form.report.size(), 1u + 1 + 1 + 1 + 2 * 2);
  EXPECT_EQ(form.report[3], password);
  EXPECT_EQ(form.memo.size(), 1u + 5);

  // An operation word of a megabyte is no operation: lines get no reply.
  Open();
  Macro("C:\\Tools\\Caller.exe");
  Macro(Megabyte('O'));
  Macro("secret");
  Macro(line);
  EXPECT_EQ(service.State().MacroMode, ConversationMode::None);
  EXPECT_EQ(link.sent.size(), 2u);
  EXPECT_EQ(link.attempts, 2);
}

TEST_F(DdeUnderLoad, EmptyMacrosAreIgnoredAtEveryStep) {
  Open();
  for (const std::string& macro : {std::string("C:\\Tools\\Caller.exe"), std::string("Close"),
                                   std::string("secret"), E("secret", "first line")}) {
    const std::int32_t step = service.State().MacroStep;
    for (int k = 0; k < 100; ++k) Macro("");
    EXPECT_EQ(service.State().MacroStep, step);
    Macro(macro);
    EXPECT_EQ(service.State().MacroStep, step + 1);
  }
  EXPECT_EQ(link.sent, std::vector<std::string>{"first line"});
  EXPECT_TRUE(form.messages.empty());
}

TEST_F(DdeUnderLoad, ThousandsOfTextLinesInOneConversation) {
  for (const bool hidden : {true, false}) {
    SCOPED_TRACE(hidden);
    auto fresh = std::make_unique<FakeForm>();
    FakeBackLink backLink;
    resicrypt::DdeService dde(*fresh, backLink);
    resicrypt::DdeEventQueue events(dde, &gate);
    fresh->hidePassword = hidden;
    const std::vector<std::string> memoBefore = fresh->memo;
    const std::vector<std::string> reportBefore = fresh->report;
    const auto post = [&events](DdeEvent event) {
      events.Post(std::move(event));
      events.Pump();
    };
    post({DdeEvent::Kind::Open, {}});
    for (const char* macro : {"C:\\Tools\\Caller.exe", "Close", "pass word"}) {
      post({DdeEvent::Kind::Macro, {macro}});
    }
    constexpr int kLines = 5000;
    std::vector<std::string> expected;
    for (int k = 0; k < kLines; ++k) {
      const std::string plain = "line " + std::to_string(k) + std::string(k % 40, '.');
      const std::string cipher = E("pass word", plain);
      expected.push_back(plain);
      // A few lines arrive while a file command holds the gate: they wait, in order.
      if (k % 1000 == 500) {
        gate.Hold();
        post({DdeEvent::Kind::Macro, {cipher}});
        gate.Release();
      } else {
        post({DdeEvent::Kind::Macro, {cipher}});
      }
    }
    EXPECT_EQ(backLink.sent, expected);
    EXPECT_EQ(dde.State().MacroStep, 3 + kLines);
    if (hidden) {
      EXPECT_EQ(fresh->memo, memoBefore);
      EXPECT_EQ(fresh->report, reportBefore);
    } else {
      EXPECT_EQ(fresh->memo.size(), memoBefore.size() + 3 + kLines);
      EXPECT_EQ(fresh->report.size(), reportBefore.size() + 3 + 2 * kLines);
    }
  }
}

TEST_F(DdeUnderLoad, CallerThatGoesAwayMidConversation) {
  Open();
  Macro("C:\\Tools\\Caller.exe");
  Macro("Open");
  Macro("secret");
  for (int k = 0; k < 10; ++k) Macro("before " + std::to_string(k));
  ASSERT_EQ(link.sent.size(), 10u);

  // The caller's service is gone: the results are dropped, the lines still taken,
  // and nobody is asked or told.
  link.open = false;
  for (int k = 0; k < 10; ++k) Macro("after " + std::to_string(k));
  EXPECT_EQ(link.sent.size(), 10u);
  EXPECT_EQ(link.attempts, 20);
  EXPECT_EQ(service.State().MacroStep, 23);
  EXPECT_TRUE(form.messages.empty());

  // Its last lines and its disconnection arrive during a file command; lines the
  // DDE layer still delivers after the disconnection never run.
  gate.Hold();
  Macro("last line");
  Close();
  Macro("after the close");
  EXPECT_EQ(link.attempts, 20);
  gate.Release();
  EXPECT_EQ(link.attempts, 21);
  EXPECT_TRUE(queue.Ended());
  EXPECT_TRUE(form.closed);
  EXPECT_EQ(service.State().MacroStep, 0);
  EXPECT_EQ(service.State().MacroMode, ConversationMode::None);
  EXPECT_TRUE(form.report.empty());  // Hide Password is checked: the list is emptied
  Macro("later still");
  EXPECT_EQ(link.attempts, 21);
}

}  // namespace
