// Core classes of every long-lived data object: each connection, command,
// business element and collection is a CLVCore, carrying an error record
// (CLVError) and a trace text (CLVTrace). None of them throws or catches,
// beyond std::bad_alloc when a trace cannot grow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Reply intake builds a core object for every stored row of a table, a
// million and more, so what a core object carries is kept to what it needs:
// the error code, and a trace that takes room only once something is traced.
class CLVError {
 public:
  CLVError() = default;
  virtual ~CLVError() = default;

 private:
  // Kept for every core object; nothing in the program reads or changes it.
  // The record's text is empty and nothing ever sets it, so it takes no room.
  int32_t m_code = 5;
};

// The trace text only grows during the object's life and is printed to
// standard output, as one line, when the object is destroyed (nothing is
// printed when it is empty).
//
// It is kept as runs of one text repeated: a collection loaded with a
// million rows traces "CBizObjectCollection::load()" a million times, 28 MB
// of text that would be copied each time its buffer doubled, and printed
// once at the end. As runs it is a count.
class CLVTrace {
 public:
  CLVTrace() = default;
  CLVTrace(const CLVTrace& other);
  CLVTrace& operator=(const CLVTrace& other);
  virtual ~CLVTrace();

  // Appends `text` to the trace with no separator; returns true.
  bool Trace(std::string_view text) { return Trace(text, 1); }
  // Appends `text` `times` times over.
  bool Trace(std::string_view text, std::size_t times);
  // The whole trace text, as it will be printed.
  std::string TraceText() const;

 private:
  struct Run {
    std::string text;
    std::size_t times;
  };
  std::unique_ptr<std::vector<Run>> m_runs;  // none until something is traced
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
