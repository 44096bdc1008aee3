// SPDX-License-Identifier: MIT
#pragma once
// Messages seam: message boxes and questions. The windows show them with QMessageBox; the CLI
// prints them; tests record them and give scripted answers.
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kalivor {

inline constexpr const char* kAppTitle = "KALIVOR";

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Critical, Question, Exclamation, Information };
enum class MessageAnswer { Ok, Yes, No };

struct Message {
  std::string text;
  std::string title = kAppTitle;
  MessageButtons buttons = MessageButtons::Ok;
  MessageIcon icon = MessageIcon::None;
};

class Messages {
 public:
  virtual ~Messages() = default;
  virtual MessageAnswer show(const Message& message) = 0;
  // Set while the program closes: boxes would only keep a window nobody looks at any more.
  bool silenced = false;

  // A plain OK box titled "KALIVOR" unless a title is given.
  void inform(const std::string& text, const std::string& title = kAppTitle,
              MessageIcon icon = MessageIcon::None) {
    show(Message{text, title, MessageButtons::Ok, icon});
  }
  bool askYesNo(const std::string& text, const std::string& title = kAppTitle,
                MessageIcon icon = MessageIcon::Question) {
    return show(Message{text, title, MessageButtons::YesNo, icon}) == MessageAnswer::Yes;
  }
};

// Test double: records every message; answers questions from a script (default Yes).
class RecordingMessages final : public Messages {
 public:
  MessageAnswer show(const Message& message) override {
    shown.push_back(message);
    if (onShow) onShow(message);
    if (message.buttons == MessageButtons::Ok) return MessageAnswer::Ok;
    if (answers.empty()) return MessageAnswer::Yes;
    const MessageAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& m : shown) out.push_back(m.text);
    return out;
  }
  std::size_t count(const std::string& text) const {
    std::size_t n = 0;
    for (const auto& m : shown) n += m.text == text;
    return n;
  }
  void clear() { shown.clear(); }

  std::vector<Message> shown;
  std::deque<MessageAnswer> answers;
  std::function<void(const Message&)> onShow;
};

}  // namespace kalivor
