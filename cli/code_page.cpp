#include "cli/code_page.h"

namespace resicrypt::cli {

std::vector<int> NameCodePage::Holding(std::string_view name) {
  std::vector<int> holding;
  std::string stored;
  for (int number : kNameCodePages) {
    if (NameCodePage(number).ToStored(name, stored)) holding.push_back(number);
  }
  return holding;
}

}  // namespace resicrypt::cli
