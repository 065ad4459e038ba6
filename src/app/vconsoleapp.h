#pragma once
// The console application base: run() reports the start, runs the virtual start() inside a
// cancellation scope, and turns any failure that leaves it into an error report under
// "execute <masked command line>" and the result 1.

#include <span>
#include <string>
#include <vector>

class vconsoleapp {
 public:
  using Args = std::span<const std::wstring>;

  // Registers the object as the process's current application.
  vconsoleapp();
  virtual ~vconsoleapp();
  vconsoleapp(const vconsoleapp&) = delete;
  vconsoleapp& operator=(const vconsoleapp&) = delete;

  // The process's current application, or null.
  static vconsoleapp* current();

  // `args` is the process's argument vector, the program name first. Returns start()'s
  // result, or 1 when a failure leaves it or a cancellation was requested.
  int run(Args args);

  // Runs one named command; the base fails with "Invalid command " + the command name.
  virtual int go(Args args);
  // Runs the application. The base takes the first argument after the program name as the
  // command name and gives go() the rest; without one it needs a preset command name
  // ("Missing command parameter" otherwise).
  virtual int start(Args args);

  const std::wstring& commandName() const { return commandName_; }
  bool stateFlag() const { return state_; }

  // The command line as reported: each argument split at every "="; an argument whose
  // part before the first "=" contains "password" shows that part and "=*" per further
  // part; each argument is quoted (when it holds a blank or one of "&<>[]{}^=;!'+,`~|)
  // and followed by one blank.
  static std::wstring maskedCommandLine(const std::vector<std::wstring>& args);
  // The reporting quote of one argument.
  static std::wstring quoteForReport(const std::wstring& arg);

 protected:
  void setCommandName(std::wstring name) { commandName_ = std::move(name); }
  void setStateFlag(bool value) { state_ = value; }

 private:
  std::wstring commandName_;
  bool state_ = false;
};
