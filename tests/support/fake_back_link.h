// DdeClientConv1 as a record of what the conversation did with it: every call,
// the service it linked to, and the texts of execute macro while it was open.
#pragma once

#include <string>
#include <vector>

#include "app/dde_service.h"

namespace resicrypt::testing {

class FakeBackLink final : public DdeClientConversation {
 public:
  bool answers = true;  // whether open link succeeds
  bool open = false;
  std::vector<std::string> calls;
  std::vector<std::string> sent;
  std::string linkedService;
  int attempts = 0;  // execute macro calls, open or not

  void SetConnectModeManual() override { calls.push_back("manual"); }
  void SetServiceApplication(const std::string& commandLine) override {
    calls.push_back("application " + commandLine);
  }
  bool SetLink(const std::string& service, const std::string& topic) override {
    open = false;
    linkedService = service;
    calls.push_back("link " + service + " " + topic);
    return true;
  }
  bool OpenLink() override {
    calls.push_back("open");
    open = answers;
    return open;
  }
  bool ExecuteMacro(const std::string& text, bool waitForReply) override {
    calls.push_back(waitForReply ? "execute and wait" : "execute");
    ++attempts;
    if (!open) return false;
    sent.push_back(text);
    return true;
  }
  void CloseLink() override {
    calls.push_back("close");
    open = false;
  }
};

}  // namespace resicrypt::testing
