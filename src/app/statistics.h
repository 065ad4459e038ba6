#pragma once
// The application object of the statistics program.

#include <cstdint>
#include <string>

#include "app/vconsoleapp.h"

class statistics : public vconsoleapp {
 public:
  statistics() = default;

  // The run of the program (see the run sequence).
  int start(Args args) override;

  bool verbose() const { return verbose_; }
  uint32_t taskSet() const { return taskSet_; }
  // The value of "--from-date" when given, otherwise empty.
  const std::wstring& forcedStartText() const { return forcedStart_; }

 private:
  bool verbose_ = false;
  uint32_t taskSet_ = 0;
  std::wstring forcedStart_;
};
