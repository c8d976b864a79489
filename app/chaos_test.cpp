// End to end: the real program chooses device after device, among every
// shipped profile and profiles of drivers that misbehave, with options and
// I/O limits changed in between; whatever the drivers did, it still answers,
// its log tells every run from start to close, and it quits cleanly.
#include <stdio.h>
#include <stdlib.h>

#include <regex>

#include "app/mainwindow.h"
#include "app/program_fixture.h"
#include "simdriver/simreg.h"

namespace {

const int kChoices = 200;
const int kBatch = 10;  // device choices per harness start
// A switch blocked for longer than the manager waits for it, by a driver
// whose stop does not wait for its thread: each choice of it costs the whole
// bound, so it comes only at these steps.
const int kBlockSteps[2] = {60, 140};

// A fixed sequence: every run makes the same choices.
struct SEQUENCE {
  uint32_t nState = 12345;
  int Next(int n) {
    nState = nState * 1103515245u + 12345u;
    return (int)((nState >> 16) % (uint32_t)n);
  }
};

struct LOGCHECK {
  std::vector<std::string> faults;
  int nRuns = 0, nKept = 0, nIncidents = 0;
  bool bFull = false;
};

// The log's own lines (those with a number) up to an overflow notice.
LOGCHECK CheckLog(const std::vector<std::string>& log) {
  LOGCHECK c;
  std::regex numbered("^#([0-9]+) (.*)$");
  int expected = 1;
  bool running = false;  // from "START ASIO DEVICE: Running" to its stop line
  bool stopped = false;  // from that stop line to its close line or what was kept
  for (size_t i = 0; i < log.size(); ++i) {
    const std::string& line = log[i];
    if (line.find("Not Enough Memory in TXT Buffer") != std::string::npos) {
      c.bFull = true;
      break;
    }
    // The report's further lines carry no number, and they may tell that a
    // device was kept.
    if (stopped && line.find("Device Not Closed") != std::string::npos) {
      stopped = false;
      c.nKept++;
    }
    std::smatch m;
    if (!std::regex_match(line, m, numbered)) continue;
    int number = atoi(m[1].str().c_str());
    if (number != expected)
      c.faults.push_back("line " + std::to_string(i) + " is #" + std::to_string(number) + ", not #" +
                         std::to_string(expected));
    expected = number + 1;
    std::string text = m[2].str();
    if (text == "START ASIO DEVICE: Running") {
      if (running || stopped) c.faults.push_back("#" + m[1].str() + ": a start before the previous run ended");
      running = true;
      stopped = false;
      c.nRuns++;
    } else if (text.compare(0, 16, "STOP ASIO DEVICE") == 0) {
      if (running) stopped = true;
      running = false;
    } else if (text == "CLOSE DEVICE") {
      stopped = false;
    } else if (text.compare(0, 18, "Incident on frame ") == 0) {
      c.nIncidents++;
      if (!running) c.faults.push_back("#" + m[1].str() + ": an incident outside a run: " + text);
    } else if (text.find("TEST ASIO DEVICE") != std::string::npos && stopped) {
      c.faults.push_back("#" + m[1].str() + ": a run neither closed nor kept before the next test");
      stopped = false;
    }
  }
  if (!c.bFull && (running || stopped)) c.faults.push_back("the last run did not end");
  return c;
}

TEST_F(ProgramTest, TwoHundredChoicesOfGoodAndFaultyDriversLeaveAWholeLog) {
  // Menu positions follow the registry's order: name every profile first.
  std::vector<std::string> shippedNames, faultyNames;
  for (int i = 0; i < SIMREG_DefaultCount; ++i) {
    std::vector<std::string> settings;
    for (const char* const* s = SIMREG_Defaults[i].ppSettings; s && *s; ++s) settings.push_back(*s);
    shippedNames.push_back(AddProfile(SIMREG_Defaults[i].szName, settings));
  }
  const std::vector<std::pair<const char*, std::vector<std::string>>> faults = {
      {"Late", {"LateCalls=5"}},
      {"Late No Wait", {"LateCalls=3", "StopNoWait=1"}},
      {"Reentrance", {"ReentranceAfter=10"}},
      {"Reset", {"ResetAfter=20"}},
      {"Resync", {"ResyncAfter=20"}},
      {"Rate", {"RateChangeAfter=20", "RateChangeTo=44100", "SampleRates=44100"}},
      {"Fail init", {"FailCall=init"}},
      {"Fail getChannels", {"FailCall=getChannels"}},
      {"Fail getBufferSize", {"FailCall=getBufferSize"}},
      {"Fail getSampleRate", {"FailCall=getSampleRate"}},
      {"Fail createBuffers", {"FailCall=createBuffers"}},
      {"Fail getChannelInfo", {"FailCall=getChannelInfo"}},
      {"Fail getLatencies", {"FailCall=getLatencies"}},
      {"Fail start", {"FailCall=start"}},
  };
  for (const auto& f : faults) faultyNames.push_back(AddProfile(f.first, f.second));
  std::string blockingName = AddProfile("Block", {"BlockUs=8000000", "BlockAt=5", "StopNoWait=1"});
  std::vector<int> shipped, faulty;
  for (const std::string& name : shippedNames) shipped.push_back(CommandOf(name));
  for (const std::string& name : faultyNames) faulty.push_back(CommandOf(name));
  int blocking = CommandOf(blockingName);
  Launch();

  // Options a user changes between runs: tones, pass-through, small loads
  // (one large one now and then), zoom.
  const int options[] = {CMD_SINE_FIRST,           CMD_SINE_FIRST + 1,      CMD_SINE_FIRST + 2,
                         CMD_SINE_LAST,            CMD_PASSTHROUGH,         CMD_CPULOAD_BASE + 1,
                         CMD_FPULOAD_BASE + 1,     CMD_SINGLECOPY_BASE + 2, CMD_PATCH_BASE + 1,
                         CMD_BUSCOPY_BASE + 2,     CMD_CPULOAD_BASE,        CMD_FPULOAD_BASE,
                         CMD_SINGLECOPY_BASE,      CMD_PATCH_BASE,          CMD_BUSCOPY_BASE,
                         CMD_ZOOM_FIRST,           CMD_ZOOM_FIRST + 5,      CMD_CPULOAD_BASE + 16};
  const int nOptions = (int)(sizeof options / sizeof options[0]);
  SEQUENCE sequence;
  std::string verbs;
  for (int step = 1; step <= kChoices; ++step) {
    int device;
    if (step == kBlockSteps[0] || step == kBlockSteps[1])
      device = blocking;
    else if (sequence.Next(3) == 0)
      device = shipped[sequence.Next((int)shipped.size())];
    else
      device = faulty[sequence.Next((int)faulty.size())];
    if (sequence.Next(2) == 0) verbs += Command(options[sequence.Next(nOptions)]);
    verbs += Command(device) + "sleep " + std::to_string(20 + 20 * sequence.Next(10)) + " ";
    // An I/O limit restarts the device that runs.
    if (sequence.Next(6) == 0)
      verbs += Command(CMD_IOLIMIT_FIRST + sequence.Next(6)) + "sleep 100 ";
    if (step % kBatch == 0) {
      DWORD begun = GetTickCount();
      RESULT r = Harness(verbs);
      printf("  choices to %d: %lu ms\n", step, (unsigned long)(GetTickCount() - begun));
      fflush(stdout);
      ASSERT_EQ(r.nExit, 0u) << "before step " << step << ": " << r.out;
      verbs.clear();
    }
  }
  Expect(Command(CMD_STOPTEST));

  RESULT alive = Harness("count \"^#[0-9]+ \"");
  ASSERT_EQ(alive.nExit, 0u) << alive.out;
  EXPECT_GT(atoi(alive.out.c_str()), kChoices);
  LOGCHECK c = CheckLog(LogLines());
  printf("  %d runs, %d kept, %d incidents, log %s\n", c.nRuns, c.nKept, c.nIncidents, c.bFull ? "full" : "not full");
  for (const std::string& fault : c.faults) ADD_FAILURE() << fault;
  EXPECT_GT(c.nRuns, kChoices / 3);
  EXPECT_GE(c.nKept, 1) << "the first blocked switch outlasts the stop's bound";

  Expect(Command(CMD_QUIT) + "gone 30");
  EXPECT_EQ(ExitCode(30000), 0u);
}

}  // namespace
