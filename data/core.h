// Core classes of every long-lived data object: each connection, command,
// business element and collection is a CLVCore, carrying an error record
// (CLVError) and a trace text (CLVTrace). None of them throws or catches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CLVError {
 public:
  CLVError() = default;
  virtual ~CLVError() = default;

 private:
  // Kept for every core object; nothing in the program reads or changes them.
  int32_t m_code = 5;
  std::string m_text;
};

// The trace text only grows during the object's life and is printed to
// standard output, as one line, when the object is destroyed (nothing is
// printed when it is empty).
class CLVTrace {
 public:
  CLVTrace() = default;
  virtual ~CLVTrace();

  // Appends `text` to the trace with no separator; returns true.
  bool Trace(std::string_view text);
  const std::string& TraceText() const { return m_trace; }

 private:
  std::string m_trace;
};

class CLVCore : public CLVError, public CLVTrace {
 public:
  CLVCore() = default;
  ~CLVCore() override = default;
};

// A small command pattern: ILVCommand declares Execute, CLVCommand is the
// empty base implementation.
class ILVCommand {
 public:
  virtual void Execute() = 0;

 protected:
  // Commands are destroyed through their own type only.
  ~ILVCommand() = default;
};

class CLVCommand : public ILVCommand, public CLVCore {
 public:
  void Execute() override {}
};
