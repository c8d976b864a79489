// End to end: the real program chooses device after device, among every
// shipped profile and profiles of drivers that misbehave, with options and
// I/O limits changed and the test stopped in between; whatever the drivers
// did, it still answers, its log tells every run from start to close, a Stop
// stays a Stop, no run counts buffers its driver did not make, and it quits
// cleanly.
#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <memory>
#include <regex>

#include "app/mainwindow.h"
#include "app/program_fixture.h"
#include "asio/asioman.h"
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
  // Per driver, in the order of its runs: the buffers its summary counted,
  // -1 for a run whose summary the log does not hold.
  std::map<std::string, std::vector<int64_t>> summaries;
};

int64_t SummaryBuffers(const std::string& text) {
  SUMMARY s = ParseLastSummary({text});
  return s.bFound ? s.nBuffers : -1;
}

// The log's own lines (those with a number) up to an overflow notice.
LOGCHECK CheckLog(const std::vector<std::string>& log) {
  LOGCHECK c;
  std::regex numbered("^#([0-9]+) (.*)$");
  int expected = 1;
  bool running = false;  // from "START ASIO DEVICE: Running" to its stop line
  bool stopped = false;  // from that stop line to its close line or what was kept
  std::string tested, runOf;  // the driver of the last test line, and of the last run
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
    if (line.find_first_of("\x1b\x7f") != std::string::npos)
      c.faults.push_back("line " + std::to_string(i) + " holds a driver's control byte: " + line);
    std::smatch m;
    if (!std::regex_match(line, m, numbered)) continue;
    int number = atoi(m[1].str().c_str());
    if (number != expected)
      c.faults.push_back("line " + std::to_string(i) + " is #" + std::to_string(number) + ", not #" +
                         std::to_string(expected));
    expected = number + 1;
    std::string text = m[2].str();
    if (text.find(") TEST ASIO DEVICE: ") != std::string::npos) tested = text.substr(text.find(": ") + 2);
    if (text.compare(0, 13, "RUN SUMMARY: ") == 0 && !runOf.empty() && !c.summaries[runOf].empty())
      c.summaries[runOf].back() = SummaryBuffers(text);
    if (text == "START ASIO DEVICE: Running") {
      if (running || stopped) c.faults.push_back("#" + m[1].str() + ": a start before the previous run ended");
      running = true;
      stopped = false;
      c.nRuns++;
      runOf = tested;
      c.summaries[runOf].push_back(-1);
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
      {"Reset In OutputReady", {"ResetInOutputReady=5"}},
      {"Switches In Start", {"SwitchesInStart=4"}},
      {"Control Names", {"ControlNames=1"}},
      {"Lying Latencies", {"InputLatency=-4096", "OutputLatency=2000000000"}},
  };
  for (const auto& f : faults) faultyNames.push_back(AddProfile(f.first, f.second));
  // Drivers that ask for a reset with the host's Stop, from inside their stop
  // or from a thread that outlives it: a Stop must stay a Stop.
  const std::vector<std::pair<const char*, std::vector<std::string>>> stopFaults = {
      {"Reset In Stop", {"ResetInStop=1"}},
      {"Late Reset", {"LateCalls=5"}},
  };
  std::vector<std::string> stopFaultyNames;
  for (const auto& f : stopFaults) stopFaultyNames.push_back(AddProfile(f.first, f.second));
  std::string blockingName = AddProfile("Block", {"BlockUs=8000000", "BlockAt=5", "StopNoWait=1"});
  std::vector<int> shipped, faulty, stopFaulty;
  for (const std::string& name : shippedNames) shipped.push_back(CommandOf(name));
  for (const std::string& name : faultyNames) faulty.push_back(CommandOf(name));
  for (const std::string& name : stopFaultyNames) stopFaulty.push_back(CommandOf(name));
  int blocking = CommandOf(blockingName);
  // Every driver's count of switches per stream, kept from one driver object
  // to the next for the whole run.
  std::map<std::string, CLSID> classes;
  std::vector<std::unique_ptr<SIMTEST_SHAREDREADER>> readers;
  ASIOMAN_Init(GetModuleHandleA(nullptr));
  for (int i = 1; i <= ASIOMAN_GetEntryCount(); ++i) {
    CLSID clsid;
    memcpy(&clsid, &ASIOMAN_GetEntry(i)->clsid, sizeof clsid);
    classes[ASIOMAN_GetEntry(i)->szName] = clsid;
    readers.emplace_back(new SIMTEST_SHAREDREADER(clsid));
  }
  ASIOMAN_End();
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
    // Every other batch ends with a Stop after a driver that asks for a
    // reset with it; the test lines counted before and after must agree.
    bool stopping = step % (2 * kBatch) == 0;
    if (stopping)
      verbs += Command(stopFaulty[sequence.Next((int)stopFaulty.size())]) + "sleep 200 " + Command(CMD_STOPTEST) +
               "count \"TEST ASIO DEVICE\" sleep 500 count \"TEST ASIO DEVICE\" ";
    if (step % kBatch == 0) {
      DWORD begun = GetTickCount();
      RESULT r = Harness(verbs);
      printf("  choices to %d: %lu ms\n", step, (unsigned long)(GetTickCount() - begun));
      fflush(stdout);
      ASSERT_EQ(r.nExit, 0u) << "before step " << step << ": " << r.out;
      int before = -1, after = -1;
      if (stopping) {
        ASSERT_EQ(2, sscanf(r.out.c_str(), "%d %d", &before, &after)) << r.out;
        EXPECT_EQ(before, after) << "a test started after the Stop at step " << step;
      }
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
  EXPECT_GE(Count("ignored, the test was stopped$"), 1) << "a reset that came with a Stop";
  for (const auto& driver : c.summaries) {
    std::vector<int64_t> made = SIMTEST_StreamSwitches(classes[driver.first]);
    for (size_t k = 0; k < driver.second.size() && k < made.size(); ++k)
      EXPECT_LE(driver.second[k], made[k])
          << driver.first << ", run " << k + 1 << ": more buffers than its driver made";
  }

  Expect(Command(CMD_QUIT) + "gone 30");
  EXPECT_EQ(ExitCode(30000), 0u);
}

}  // namespace
