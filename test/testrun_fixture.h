// Shared by the test run's unit tests: a heap-allocated context with a log,
// and a fake device with a timing record as the device manager prepares it.
#ifndef MB_TEST_TESTRUN_FIXTURE_H
#define MB_TEST_TESTRUN_FIXTURE_H

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "app/appcontext.h"
#include "asio/asioman_types.h"

class TestRunFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The text of the log's lines since the fixture started, without their
  // "#nnnn " prefixes and line ends.
  std::vector<std::string> LogLines() const;
  std::string LastLogLine() const;

  // Timing as ASIOMAN_ResetTiming leaves it for the rate and size, with a
  // 10 MHz counter.
  static void SetTiming(ASIOMAN_TIMING* timing, int32_t rate, int32_t bufferSize, int64_t frequency = 10000000);
  // A device of inputs + outputs channels of type 18 named "In n" / "Out n".
  void SetDevice(int32_t rate, int32_t bufferSize, int32_t inputs, int32_t outputs);

  APPCONTEXT* context = nullptr;
  std::unique_ptr<ASIOMAN_DEVICE> device;
};

#endif  // MB_TEST_TESTRUN_FIXTURE_H
