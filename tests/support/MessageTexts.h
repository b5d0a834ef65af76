#pragma once
// Messages as the session tests compare them: "type code text".

#include <string>
#include <vector>

#include "session/ORB_MessageItem.h"

namespace orb::test {

inline std::vector<std::string> MessageTexts(const std::vector<TMessageItem>& items) {
  std::vector<std::string> texts;
  for (const TMessageItem& item : items) {
    texts.push_back(std::to_string(item.MsgType) + " " + std::to_string(item.Code) + " " +
                    item.Text);
  }
  return texts;
}

}  // namespace orb::test
