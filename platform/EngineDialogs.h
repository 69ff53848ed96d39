// The dialogs of the database engine's components, as the engine sees them: the wait form that
// shows a long operation's progress and lets the user stop it, the password question, and the
// messages of a database open (repair question, repair log). Plain C++: the engine calls through
// this interface, and the application registers its Qt dialogs here (app/window), so neither
// reaches into the other's layer.
//
// Without registered dialogs (a headless tool, a test that registers none) nothing is shown: no
// wait form, the password question answers "no" (so a wrong password raises), a confirmation
// answers "no" and a message is dropped.
//
// Thread safety: the dialogs run on the calling thread; register them once, before engine use.
#pragma once

#include <memory>
#include <string>

namespace platform {

// A progress form of one long operation. The owner calls Show, then SetPosition as the work goes
// on (each call lets the form process pending events), reads Terminated after each, and Close at
// the end; after Close the form is not used again.
class TEngineWaitForm {
 public:
  virtual ~TEngineWaitForm() = default;
  // Sets the text and starts the form's show timer; the form appears only when the operation is
  // still at most half way after the timer's interval.
  virtual void Show(const std::string& text) = 0;
  // Progress in percent (0..100); processes pending events.
  virtual void SetPosition(int percentDone) = 0;
  // The user asked to stop (the Abort button).
  virtual bool Terminated() const = 0;
  virtual void ProcessMessages() = 0;
  virtual void Close() = 0;
};

enum class TEngineMessageKind { Information, Warning, Error };

class TEngineDialogs {
 public:
  virtual ~TEngineDialogs() = default;
  virtual std::unique_ptr<TEngineWaitForm> CreateWaitForm() = 0;
  // Asks for a password; true with `password` set when the user confirmed, false when cancelled
  // (then `password` is unchanged). `name` is the line above the edit (may be empty).
  virtual bool ShowPasswordDialog(const std::string& name, std::string& password) = 0;
  // A Yes/No question; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  virtual void ShowMessage(TEngineMessageKind kind, const std::string& text) = 0;
};

// Registers the dialogs (not owned; null unregisters). Returns the ones registered before.
TEngineDialogs* SetEngineDialogs(TEngineDialogs* dialogs);
TEngineDialogs* EngineDialogs();

}  // namespace platform
