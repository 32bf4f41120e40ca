#include "app/cipher_gate.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace resicrypt {
namespace {

TEST(CipherGate, RunsAtOnceWhenNoFileCommandRuns) {
  CipherGate gate;
  std::vector<std::string> log;
  EXPECT_TRUE(gate.RunOrDefer([&] { log.push_back("label"); }));
  EXPECT_EQ(log, std::vector<std::string>{"label"});
  EXPECT_FALSE(gate.Busy());
}

TEST(CipherGate, HoldsBackEventsUntilTheFileCommandEndsInArrivalOrder) {
  CipherGate gate;
  std::vector<std::string> log;
  gate.Hold();
  log.push_back("encrypt file starts");
  // Events let through in the middle of the command.
  EXPECT_FALSE(gate.RunOrDefer([&] { log.push_back("clipboard"); }));
  EXPECT_FALSE(gate.RunOrDefer([&] { log.push_back("dde line"); }));
  EXPECT_TRUE(gate.Busy());
  log.push_back("encrypt file ends");
  gate.Release();
  EXPECT_EQ(log, (std::vector<std::string>{"encrypt file starts", "encrypt file ends", "clipboard",
                                           "dde line"}));
  EXPECT_FALSE(gate.Busy());
}

TEST(CipherGate, ASecondFileCommandWaitsForTheFirstAndKeepsItsPlaceInTheQueue) {
  CipherGate gate;
  std::vector<std::string> log;
  gate.Hold();
  gate.RunOrDefer([&] {
    gate.Hold();
    log.push_back("decrypt file");
    // While the second command runs, the gate is held again.
    EXPECT_TRUE(gate.Busy());
    gate.RunOrDefer([&] { log.push_back("late label"); });
    gate.Release();
  });
  gate.RunOrDefer([&] { log.push_back("memo"); });
  log.push_back("encrypt file");
  gate.Release();
  EXPECT_EQ(log, (std::vector<std::string>{"encrypt file", "decrypt file", "memo", "late label"}));
}

}  // namespace
}  // namespace resicrypt
