#pragma once
// Where the programs' message boxes go. Library code never prints: it hands a
// MessageBox to the sink the program supplied (a modal box in the GUI, stderr in
// the CLI, a recorder in tests) and gets the operator's answer back.

#include <deque>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

enum class MessageIcon { kNone, kInformation, kWarning, kError, kQuestion };
enum class MessageButtons { kOk, kOkCancel, kYesNo, kYesNoCancel, kRetryCancel };
enum class MessageAnswer { kOk, kCancel, kYes, kNo, kRetry };

struct MessageBox {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::kNone;
  MessageButtons buttons = MessageButtons::kOk;

  bool operator==(const MessageBox&) const = default;
};

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows one box and returns the answer. May block until the operator answers;
  // may be called from any thread.
  virtual MessageAnswer Show(const MessageBox& box) = 0;

  MessageAnswer Show(std::string text, std::string caption = {},
                     MessageIcon icon = MessageIcon::kNone,
                     MessageButtons buttons = MessageButtons::kOk) {
    return Show(MessageBox{std::move(text), std::move(caption), icon, buttons});
  }
};

// The answer a box gets when nobody is there to press a button: the first
// button (OK, Yes, Retry).
MessageAnswer DefaultAnswer(MessageButtons buttons);

// Keeps every box in order; answers from a queue of scripted answers, else with
// DefaultAnswer. Thread-safe.
class RecordingSink final : public MessageSink {
 public:
  using MessageSink::Show;
  MessageAnswer Show(const MessageBox& box) override;

  void QueueAnswer(MessageAnswer answer);
  std::vector<MessageBox> Boxes() const;
  std::vector<std::string> Texts() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<MessageBox> boxes_;
  std::deque<MessageAnswer> answers_;
};

// Writes each box to a stream as one block: its text, then, when there is one,
// the caption in brackets. Answers with DefaultAnswer. Used by the CLI programs
// with std::cerr.
class StreamSink final : public MessageSink {
 public:
  explicit StreamSink(std::ostream& out) : out_(out) {}
  using MessageSink::Show;
  MessageAnswer Show(const MessageBox& box) override;

 private:
  std::mutex mutex_;
  std::ostream& out_;
};

// Passes each box on to another sink, except that while held, boxes that only
// inform (an OK button) wait, in order, until Release shows them: a window
// says what went wrong during its start-up once it is there to be seen.
// Boxes that ask a question are never held. Not thread-safe.
class HoldingSink final : public MessageSink {
 public:
  explicit HoldingSink(MessageSink& next) : next_(next) {}
  using MessageSink::Show;
  MessageAnswer Show(const MessageBox& box) override;

  void Hold() { held_ = true; }
  void Release();

 private:
  MessageSink& next_;
  bool held_ = false;
  std::vector<MessageBox> waiting_;
};

}  // namespace platform
