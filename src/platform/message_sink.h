// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes as the installer shows them: a text, an icon and buttons, titled with the
// program's name. The window program shows real boxes; tests record what would have been shown
// and give scripted answers.
#pragma once

#include <deque>
#include <string>
#include <vector>

enum class MessageIcon { kNone, kExclamation, kInformation };
enum class MessageButtons { kOk, kYesNo };
enum class MessageAnswer { kOk, kYes, kNo };

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual MessageAnswer Show(const std::string& text, MessageIcon icon, MessageButtons buttons) = 0;
};

// Keeps every message; Yes/No questions take their answers from `answers` in order (No when
// none is left, so an unexpected question cannot start anything).
class RecordingMessageSink : public MessageSink {
 public:
  struct Message {
    std::string text;
    MessageIcon icon;
    MessageButtons buttons;
  };
  MessageAnswer Show(const std::string& text, MessageIcon icon, MessageButtons buttons) override {
    messages.push_back({text, icon, buttons});
    if (buttons == MessageButtons::kOk) return MessageAnswer::kOk;
    if (answers.empty()) return MessageAnswer::kNo;
    MessageAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const Message& m : messages) out.push_back(m.text);
    return out;
  }

  std::vector<Message> messages;
  std::deque<MessageAnswer> answers;
};
