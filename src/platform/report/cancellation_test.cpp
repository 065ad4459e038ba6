#include "platform/report/cancellation.h"

#include <gtest/gtest.h>

#include "platform/report/vexception.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

using testing_support::binaryPath;
using testing_support::runProcess;

TEST(Cancellation, PointRaisesOnlyWhileARequestIsPending) {
  EXPECT_NO_THROW(cancellation::point());
  cancellation::request();
  try {
    cancellation::point();
    ADD_FAILURE();
  } catch (const vexception& e) {
    EXPECT_EQ(e.message(), L"Operation cancelled");
  }
  cancellation::reset();
  EXPECT_NO_THROW(cancellation::point());
}

TEST(ProcessorException, ReportedOnTheConsoleAndInTheEventLogThenExitCodeOne) {
  testing_support::ScopedSystemRoot root;
  struct Case {
    const char* name;
    const char* code;
  };
  for (Case c : {Case{"segv", "3221225477"}, Case{"fpe", "3221225620"}, Case{"ill", "3221225501"},
                 Case{"bus", "2147483650"}}) {
    auto r = runProcess(binaryPath("cadro-crash-probe"), {c.name}, {{"CADRO_SYSTEM_ROOT", root.path()}});
    EXPECT_EQ(r.exitCode, 1) << c.name;
    // The console rule holds: the second message starts on a new line.
    EXPECT_EQ(r.out, std::string("first report\nC Exception: ") + c.code) << c.name;
    std::string log = testing_support::readFile(root.file("eventlog/Cadro.log"));
    EXPECT_NE(log.find(std::string("\tERROR\tcadro-crash-probe\t1\t0\tC Exception: ") + c.code + "\\n   at "),
              std::string::npos)
        << log;
  }
}
