#include "platform/message_sink.h"

#include <ostream>

namespace platform {

MessageAnswer DefaultAnswer(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::kYesNo:
    case MessageButtons::kYesNoCancel:
      return MessageAnswer::kYes;
    case MessageButtons::kRetryCancel:
      return MessageAnswer::kRetry;
    case MessageButtons::kOk:
    case MessageButtons::kOkCancel:
      break;
  }
  return MessageAnswer::kOk;
}

MessageAnswer RecordingSink::Show(const MessageBox& box) {
  std::lock_guard lock(mutex_);
  boxes_.push_back(box);
  if (answers_.empty()) return DefaultAnswer(box.buttons);
  const MessageAnswer a = answers_.front();
  answers_.pop_front();
  return a;
}

void RecordingSink::QueueAnswer(MessageAnswer answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

std::vector<MessageBox> RecordingSink::Boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<std::string> RecordingSink::Texts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  texts.reserve(boxes_.size());
  for (const auto& b : boxes_) texts.push_back(b.text);
  return texts;
}

void RecordingSink::Clear() {
  std::lock_guard lock(mutex_);
  boxes_.clear();
  answers_.clear();
}

MessageAnswer StreamSink::Show(const MessageBox& box) {
  std::lock_guard lock(mutex_);
  out_ << box.text;
  if (!box.text.empty() && box.text.back() != '\n') out_ << '\n';
  if (!box.caption.empty()) out_ << "[" << box.caption << "]\n";
  out_.flush();
  return DefaultAnswer(box.buttons);
}

MessageAnswer HoldingSink::Show(const MessageBox& box) {
  if (!held_ || box.buttons != MessageButtons::kOk) return next_.Show(box);
  waiting_.push_back(box);
  return DefaultAnswer(box.buttons);
}

void HoldingSink::Release() {
  held_ = false;
  // A box shown now may run the event loop, and a command may show more.
  std::vector<MessageBox> boxes;
  boxes.swap(waiting_);
  for (const auto& box : boxes) next_.Show(box);
}

}  // namespace platform
