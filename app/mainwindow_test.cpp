// The real main window, created in this process: menus and check marks (a
// window's menu cannot be read from another process under Wine), the layout,
// the refresh tick and the shutdown paths, with simulated driver profiles of
// this test's own.
#include "app/mainwindow.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/txtbuffer.h"
#include "asio/asioman.h"
#include "simdriver/simtest.h"
#include "test/runfigures.h"
#include "ui/qz2ctl.h"
#include "ui/statuspanel.h"
#include "winaudio/winaudio.h"

namespace {

// The log's lines without their "#nnnn " prefixes.
std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    size_t blank = line.find(' ');
    lines.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
    start = end + 2;
  }
  return lines;
}

std::string g_finalLog;
int g_releaseCalls;

void CaptureFinalLog() {
  g_releaseCalls++;
  const TXTBUFFER* log = &g_appContext.log;
  g_finalLog = log->pText ? std::string(log->pText, log->nUsed) : std::string();
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    g_finalLog.clear();
    g_releaseCalls = 0;
    g_pfnBeforeRelease = CaptureFinalLog;
  }

  void TearDown() override {
    if (hwnd && !quit) Quit();
    if (hwnd) DestroyWindow(hwnd);
    profiles.RemoveAll();
    g_pfnBeforeRelease = nullptr;
    CoUninitialize();
  }

  std::string AddProfile(const char* name, std::vector<std::string> settings) {
    std::string full = std::string("MBAppTest ") + name;
    EXPECT_NE(profiles.Add(full, settings), GUID_NULL);
    return full;
  }

  std::string AddReportFile(const char* name) { return "ReportFile=" + profiles.AddFile("mbapp", name); }

  // What WinMain does, up to the message loop.
  void OpenMainWindow() {
    QZ2CTL_InitModule(GetModuleHandleA(nullptr));
    g_hInstance = GetModuleHandleA(nullptr);
    char title[128];
    APP_FormatTitle(title, sizeof title);
    hwnd = CreateMainWindow(g_hInstance, title);
    ASSERT_NE(nullptr, hwnd);
  }

  int IndexOf(const std::string& name) {
    for (int i = 1; i <= ASIOMAN_GetEntryCount(); ++i)
      if (name == ASIOMAN_GetEntry(i)->szName) return i;
    return 0;
  }

  // Dispatches messages for ms or until WM_QUIT.
  void Pump(int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    while (!quit && (int)(end - GetTickCount()) > 0) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          quit = true;
          break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      Sleep(5);
    }
  }

  // The rest of WinMain: the loop ends, the library and context go.
  void Quit() {
    if (!quit) PostMessageA(hwnd, WM_COMMAND, 11, 0);
    Pump(10000);
    QZ2CTL_EndModule();
    APPCONTEXT_Free();
  }

  std::vector<std::string> LogLines() const {
    const TXTBUFFER* log = &g_appContext.log;
    return LinesOf(log->pText ? std::string(log->pText, log->nUsed) : std::string());
  }

  bool LogHas(const std::string& line) const {
    for (const std::string& l : LogLines())
      if (l == line) return true;
    return false;
  }

  void PumpUntilLogHas(const std::string& line, int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    while (!LogHas(line) && (int)(end - GetTickCount()) > 0) Pump(20);
  }

  // Pumps until the run has processed more than `buffers` buffers, at most ms.
  void PumpUntilBuffers(int64_t buffers, int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    while (g_appContext.nBufferNumber <= buffers && (int)(end - GetTickCount()) > 0) Pump(20);
  }

  UINT State(int id) { return GetMenuState(GetMenu(hwnd), (UINT)id, MF_BYCOMMAND); }

  HWND hwnd = nullptr;
  bool quit = false;
  SIMTEST_PROFILES profiles;
};

TEST_F(MainWindowTest, MenusAtTheFirstOpeningShowTheDefaultsAndEveryDriverInListOrder) {
  AddProfile("Alpha", {});
  AddProfile("Beta", {"Inputs=4"});
  OpenMainWindow();
  SendMessageA(hwnd, WM_INITMENU, (WPARAM)GetMenu(hwnd), 0);

  const int checked[] = {102, 156, 167, 200, 300, 500, 600, 700};
  for (int id : checked) EXPECT_TRUE(State(id) & MF_CHECKED) << id;
  const int unchecked[] = {100, 101, 103, 150, 151, 155, 160, 166, 168, 175, 201, 232, 301, 501, 601, 701, 732};
  for (int id : unchecked) EXPECT_FALSE(State(id) & MF_CHECKED) << id;
  // A tenth of full scale is -20 dB, as the log announces it.
  const char* tones[] = {"&Generate Sinus 100 Hz -20 dB", "Generate Sinus 200 Hz -20 dB",
                         "Generate Sinus 440 Hz -20 dB", "Generate Sinus 1000 Hz -20 dB"};
  for (int k = 0; k < 4; k++) {
    char tone[100];
    GetMenuStringA(GetMenu(hwnd), (UINT)(100 + k), tone, sizeof tone, MF_BYCOMMAND);
    EXPECT_STREQ(tone, tones[k]);
  }

  HMENU devices = GetSubMenu(GetMenu(hwnd), 1);
  ASSERT_NE(nullptr, devices);
  int drivers = ASIOMAN_GetEntryCount();
  ASSERT_GE(drivers, 2);
  ASSERT_EQ(GetMenuItemCount(devices), 2 + drivers);
  char text[300];
  GetMenuStringA(devices, 0, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "&Open ASIO Control Panel");
  EXPECT_EQ(GetMenuItemID(devices, 0), 999u);
  EXPECT_TRUE(GetMenuState(devices, 1, MF_BYPOSITION) & MF_SEPARATOR);
  for (int i = 1; i <= drivers; i++) {
    wchar_t item[300];
    GetMenuStringW(devices, (UINT)(1 + i), item, 300, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(item), std::wstring(L"ASIO: ") + ASIOMAN_GetEntry(i)->wszName);
    EXPECT_EQ(GetMenuItemID(devices, 1 + i), (UINT)(999 + i));
    EXPECT_FALSE(GetMenuState(devices, (UINT)(1 + i), MF_BYPOSITION) & MF_CHECKED);
  }
}

TEST_F(MainWindowTest, ChecksFollowTheOptionsAndTheDriverUnderTest) {
  std::string name = AddProfile("Checks", {});
  OpenMainWindow();
  int index = IndexOf(name);
  ASSERT_GT(index, 0);
  SendMessageA(hwnd, WM_COMMAND, 150, 0);  // pass-through
  SendMessageA(hwnd, WM_COMMAND, 171, 0);  // zoom 6 %
  SendMessageA(hwnd, WM_COMMAND, 316, 0);  // 2048 FPU filters
  SendMessageA(hwnd, WM_COMMAND, 205, 0);  // not a load item: ignored
  SendMessageA(hwnd, WM_COMMAND, CMD_ASIODRIVER_FIRST - 1 + index, 0);
  SendMessageA(hwnd, WM_INITMENU, (WPARAM)GetMenu(hwnd), 0);
  EXPECT_TRUE(State(150) & MF_CHECKED);
  EXPECT_FALSE(State(102) & MF_CHECKED);
  EXPECT_TRUE(State(171) & MF_CHECKED);
  EXPECT_FALSE(State(167) & MF_CHECKED);
  EXPECT_TRUE(State(316) & MF_CHECKED);
  EXPECT_TRUE(State(200) & MF_CHECKED);
  EXPECT_TRUE(State(CMD_ASIODRIVER_FIRST - 1 + index) & MF_CHECKED);
  char header[512];
  STATUSPANEL_FormatHeader(header, sizeof header);
  EXPECT_STREQ(header, ("TESTING: " + name + " (48000 Hz) 2i / 2o (buffer: 256 smp = 5.3ms)").c_str());
  EXPECT_EQ(g_appContext.nCpuFilters, 0);
  EXPECT_TRUE(LogHas("DSP LOAD: CPU: 0 / FPU: 2048 / SINGLECPY: 0 / PATCH: 0 / BUSCPY: 0"));
  EXPECT_TRUE(LogHas("MODE PASS-THROUGH: all inputs -> all outputs"));

  SendMessageA(hwnd, WM_COMMAND, 102, 0);  // the tone again
  SendMessageA(hwnd, WM_INITMENU, (WPARAM)GetMenu(hwnd), 0);
  EXPECT_TRUE(State(102) & MF_CHECKED);
  EXPECT_FALSE(State(150) & MF_CHECKED);
}

TEST_F(MainWindowTest, ControlPanelAndStartWithoutADriverSayWhatToDo) {
  OpenMainWindow();
  int32_t lines = g_appContext.log.nLines;
  SendMessageA(hwnd, WM_COMMAND, CMD_CONTROLPANEL, 0);
  SendMessageA(hwnd, WM_COMMAND, 14, 0);  // stop with no driver: nothing
  SendMessageA(hwnd, WM_COMMAND, 13, 0);
  std::vector<std::string> log = LogLines();
  ASSERT_EQ(g_appContext.log.nLines, lines + 2);
  EXPECT_EQ(log[log.size() - 2], "CONTROL PANEL: choose an ASIO driver in the Devices menu first");
  EXPECT_EQ(log[log.size() - 1], "START: choose an ASIO driver in the Devices menu first");
  EXPECT_EQ(g_appContext.nAsioDriver, 0);
}

TEST_F(MainWindowTest, AControlPanelTheDriverDidNotOpenIsLoggedWithItsResultAndText) {
  std::string name = AddProfile("Panel", {});
  OpenMainWindow();
  int index = IndexOf(name);
  ASSERT_GT(index, 0);
  SendMessageA(hwnd, WM_COMMAND, CMD_ASIODRIVER_FIRST - 1 + index, 0);
  SendMessageA(hwnd, WM_COMMAND, CMD_CONTROLPANEL, 0);
  // The simulated driver has no panel: ASE_NotPresent.
  EXPECT_TRUE(LogHas("CONTROL PANEL: the driver did not open it (-1000) No control panel: edit the values of the "
                     "profile's registry key"));
}

// The Devices menu as the log view fills it when the driver list is empty.
TEST_F(MainWindowTest, WithNoDriverInstalledTheDevicesMenuSaysSo) {
  ASSERT_EQ(ASIOMAN_GetEntryCount(), 0) << "the device manager is not started";
  HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), "MyMainAppMenu");
  hwnd = CreateWindowExA(0, "static", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, menu, nullptr, nullptr);
  ASSERT_NE(nullptr, hwnd);
  quit = true;  // no main window: nothing to quit
  LOGVIEW_Create(hwnd);
  HMENU devices = GetSubMenu(menu, 1);
  ASSERT_EQ(GetMenuItemCount(devices), 3);
  char text[100];
  GetMenuStringA(devices, 2, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "(no ASIO driver installed)");
  EXPECT_TRUE(GetMenuState(devices, 2, MF_BYPOSITION) & MF_GRAYED);
}

TEST_F(MainWindowTest, ASmallWindowKeepsThePanelAndTheLogViewUsable) {
  OpenMainWindow();
  SetWindowPos(hwnd, nullptr, 0, 0, 150, 200, SWP_NOMOVE | SWP_NOZORDER);
  Pump(50);
  EXPECT_EQ(g_appContext.nPanelWidth, 400);
  RECT view;
  GetWindowRect((HWND)g_appContext.hLogView, &view);
  EXPECT_GE(view.bottom - view.top, 100);
  SetWindowPos(hwnd, nullptr, 0, 0, 1200, 900, SWP_NOMOVE | SWP_NOZORDER);
  Pump(50);
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(g_appContext.nPanelWidth, client.right - 20);
  GetWindowRect((HWND)g_appContext.hLogView, &view);
  EXPECT_EQ(view.bottom - view.top, client.bottom - 330 - 100);
}

// At the size the window opens with, the panel's first row fits whole with
// seven-digit counters and the widest usual loads, measured in the panel's
// font, and no text of the row reaches into the next.
TEST_F(MainWindowTest, AtTheDefaultSizeThePanelsFirstRowFitsWhole) {
  OpenMainWindow();
  APPCONTEXT* context = &g_appContext;
  context->nPerfFrequency = 1000;
  context->nLastCallbackTime = 359999 * 1000;  // 99:59:59
  context->nBufferNumber = 9999999;
  context->nLoadOver50 = 9999999;
  context->nLoadOver80 = 9999999;
  context->nLoadOver100 = 9999999;
  context->nPerfPerBuffer = 1000;
  context->nProcMin = 99999;  // 9999.9 %
  context->nProcMax = 99999;
  context->fMegacyclesMin = 999.9f;
  context->fMegacyclesMax = 999.9f;

  HDC dc = GetDC(hwnd);
  STATUSPANEL_TEXT texts[STATUSPANEL_TEXTS];
  int count = STATUSPANEL_LayOutTexts(dc, context, texts);
  HGDIOBJ old = SelectObject(dc, QZ2CTL_GetFont(QZ2CTL_FONT_14));
  int row = 0;
  for (int i = 0; i < count && texts[i].y == texts[0].y; i++, row++) {
    SIZE size;
    GetTextExtentPoint32A(dc, texts[i].szText, (int)strlen(texts[i].szText), &size);
    int end = texts[i].x + size.cx;
    EXPECT_LE(end, context->nPanelWidth - 1) << texts[i].szText << " passes the panel's border";
    if (i + 1 < count && texts[i + 1].y == texts[i].y) {
      EXPECT_LE(end, texts[i + 1].x) << texts[i].szText;
    }
  }
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  EXPECT_EQ(row, 8);
  EXPECT_STREQ(texts[7].szText, "DSP MAX: 9999.9 % (999.9 mc)");
}

TEST_F(MainWindowTest, ATickCopiesTheLogOnlyAfterItChanged) {
  OpenMainWindow();
  HWND view = (HWND)g_appContext.hLogView;
  SendMessageA(hwnd, WM_COMMAND, 100, 0);  // logs the mode line
  SendMessageA(hwnd, WM_TIMER, IDT_REFRESH, 0);
  char text[4096];
  GetWindowTextA(view, text, sizeof text);
  EXPECT_STREQ(text, g_appContext.log.pText);

  SetWindowTextA(view, "untouched");
  SendMessageA(hwnd, WM_TIMER, IDT_REFRESH, 0);
  GetWindowTextA(view, text, sizeof text);
  EXPECT_STREQ(text, "untouched");
  SendMessageA(hwnd, WM_COMMAND, 101, 0);
  SendMessageA(hwnd, WM_TIMER, IDT_REFRESH, 0);
  GetWindowTextA(view, text, sizeof text);
  EXPECT_STREQ(text, g_appContext.log.pText);
}

// Lines arrive from a second thread while the ticks run, up to and past the
// overflow notice; the view then holds the log byte for byte, the notice
// included, with the caret on its last line.
TEST_F(MainWindowTest, TheViewKeepsUpWithLinesFromAnotherThreadUntilTheLogIsFull) {
  OpenMainWindow();
  HWND view = (HWND)g_appContext.hLogView;
  TXTBUFFER* log = &g_appContext.log;
  std::atomic<bool> done(false);
  std::thread writer([log, &done] {
    int refused = 0;
    for (int i = 0; refused < 3; i++) {
      std::string text(10 + i % 7 * 23, (char)('a' + i % 26));
      if (i % 50 == 0) text += "\nsecond line";  // driver messages carry bare line feeds
      if (TXTBUFFER_AddLine(log, text.c_str(), "\r\n") != 0) refused++;
      // Every few hundred lines, let a tick start before going on, so that
      // lines also arrive while it copies.
      DWORD end = GetTickCount() + 10000;
      while (i % 300 == 299 && log->bChanged.load() && (int)(end - GetTickCount()) > 0) std::this_thread::yield();
    }
    done = true;
  });
  DWORD end = GetTickCount() + 120000;
  while (!done && (int)(end - GetTickCount()) > 0) {
    SendMessageA(hwnd, WM_TIMER, IDT_REFRESH, 0);
    Pump(1);
  }
  writer.join();
  ASSERT_TRUE(done);
  SendMessageA(hwnd, WM_TIMER, IDT_REFRESH, 0);
  Pump(1);

  ASSERT_EQ(log->bFull, 1);
  std::string expected(log->pText);
  ASSERT_EQ(expected.find("****** Not Enough Memory"), (size_t)log->nUsed);
  std::vector<char> text(expected.size() + 2);
  LRESULT copied = SendMessageA(view, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)text.data());
  EXPECT_TRUE(std::string(text.data(), (size_t)copied) == expected) << "the view differs from the log";
  DWORD start = 0, stop = 0;
  SendMessageA(view, EM_GETSEL, (WPARAM)&start, (LPARAM)&stop);
  EXPECT_EQ(start, (DWORD)expected.size());
  EXPECT_EQ(stop, (DWORD)expected.size());
  EXPECT_EQ(SendMessageA(view, EM_LINEFROMCHAR, (WPARAM)-1, 0), SendMessageA(view, EM_GETLINECOUNT, 0, 0) - 1);
}

TEST_F(MainWindowTest, TheLogIsShownInAFixedPitchFont) {
  OpenMainWindow();
  HWND view = (HWND)g_appContext.hLogView;
  HDC dc = GetDC(view);
  HGDIOBJ old = SelectObject(dc, (HFONT)g_appContext.hFontMono);
  SIZE narrow, wide;
  GetTextExtentPoint32A(dc, "iiii", 4, &narrow);
  GetTextExtentPoint32A(dc, "WWWW", 4, &wide);
  SelectObject(dc, old);
  ReleaseDC(view, dc);
  EXPECT_EQ(narrow.cx, wide.cx);
}

// The view's pixels, frame and scroll bars included.
std::vector<uint32_t> Pixels(HWND view) {
  RECT rect;
  GetWindowRect(view, &rect);
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC screen = GetWindowDC(view);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  std::vector<uint32_t> pixels((const uint32_t*)bits, (const uint32_t*)bits + (size_t)width * height);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(view, screen);
  return pixels;
}

// An append draws only the text and the scroll bars that moved; the view then
// looks exactly as when drawn afresh, a longer line's horizontal bar included.
TEST_F(MainWindowTest, AnAppendLeavesTheViewAsADrawingAfreshWould) {
  OpenMainWindow();
  SetWindowPos(hwnd, nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
  HWND view = (HWND)g_appContext.hLogView;
  for (int round = 0; round < 4; round++) {
    for (int i = 0; i < (round == 0 ? 200 : 30); i++)
      TXTBUFFER_AddLine(&g_appContext.log, std::string(20 + round * 40 + i % 5, (char)('a' + i % 26)).c_str(), "\r\n");
    SendMessageA(hwnd, WM_TIMER, IDT_REFRESH, 0);
    Pump(50);
    std::vector<uint32_t> appended = Pixels(view);
    RedrawWindow(view, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
    EXPECT_TRUE(Pixels(view) == appended) << "round " << round;
  }
}

TEST_F(MainWindowTest, ARenderEndpointCommandNamesTheEndpointOrNothing) {
  OpenMainWindow();
  int count = WINAUDIO_GetRenderCount();
  char header[512];
  SendMessageA(hwnd, WM_COMMAND, 1249 + count + 1, 0);  // past the list
  EXPECT_EQ(g_appContext.nWinDevice, count + 1);
  STATUSPANEL_FormatHeader(header, sizeof header);
  EXPECT_STREQ(header, "");
  ASSERT_GE(count, 1) << "the sound server of the test fixture gives render endpoints";
  SendMessageA(hwnd, WM_COMMAND, 1250, 0);
  EXPECT_EQ(g_appContext.nAsioDriver, 0);
  STATUSPANEL_FormatHeader(header, sizeof header);
  EXPECT_EQ(std::string(header),
            std::string("TESTING: ") + WINAUDIO_GetRenderDevice(1)->szName + " (0 Hz) 0i / 0o (buffer: 0 smp = 0.0ms)");
}

TEST_F(MainWindowTest, StoppingARunLogsItsFiguresOnceAfterTheCloseLine) {
  std::string name = AddProfile("Summary", {});
  OpenMainWindow();
  int index = IndexOf(name);
  ASSERT_GT(index, 0);
  SendMessageA(hwnd, WM_COMMAND, CMD_ASIODRIVER_FIRST - 1 + index, 0);
  PumpUntilBuffers(20, 5000);
  SendMessageA(hwnd, WM_COMMAND, 14, 0);
  SendMessageA(hwnd, WM_COMMAND, 14, 0);  // stopping a closed device again summarises nothing

  char summary[512];
  RUNFIGURES_FormatSummary(summary, sizeof summary, &g_appContext);
  // The run's extremes and distribution went with its blocks at close.
  auto withoutExtremes = [](std::string s) {
    size_t from = s.find(" / MIN: "), to = s.find(" / TIMING ERROR");
    return from != std::string::npos && to != std::string::npos ? s.erase(from, to - from) : s;
  };
  std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[lines.size() - 5], "STOP ASIO DEVICE: " + name);
  EXPECT_EQ(lines[lines.size() - 4], "CLOSE DEVICE");
  EXPECT_EQ(withoutExtremes(lines[lines.size() - 3]), withoutExtremes(summary));  // the figures the panel still shows
  EXPECT_EQ(lines[lines.size() - 2].find("RUN DISTRIBUTION: "), 0u);
  EXPECT_EQ(lines[lines.size() - 1], "STOP ASIO DEVICE: " + name);
  EXPECT_GT(g_appContext.nBufferNumber, 20);
}

TEST_F(MainWindowTest, AFailedStartShowsNoFigureOfThePreviousDevice) {
  std::string good = AddProfile("Good", {});
  std::string bad = AddProfile("Bad", {"FailCall=init"});
  OpenMainWindow();
  int goodIndex = IndexOf(good);
  int badIndex = IndexOf(bad);
  ASSERT_GT(goodIndex, 0);
  ASSERT_GT(badIndex, 0);
  SendMessageA(hwnd, WM_COMMAND, CMD_ASIODRIVER_FIRST - 1 + goodIndex, 0);
  PumpUntilBuffers(20, 5000);
  SendMessageA(hwnd, WM_COMMAND, CMD_ASIODRIVER_FIRST - 1 + badIndex, 0);
  ASSERT_TRUE(LogHas("OPEN ASIO DEVICE: Error"));

  char header[512];
  STATUSPANEL_FormatHeader(header, sizeof header);
  EXPECT_EQ(std::string(header), "TESTING: " + bad + " (0 Hz) 0i / 0o (buffer: 0 smp = 0.0ms)");
  const APPCONTEXT* context = &g_appContext;
  char text[64];
  RUNFIGURES_FormatRunningTime(text, sizeof text, context->nFirstCallbackTime, context->nLastCallbackTime,
                               context->nPerfFrequency);
  EXPECT_STREQ(text, "00:00:00");
  RUNFIGURES_FormatLoad(text, sizeof text, context->nProcMin, context->nPerfPerBuffer, context->fMegacyclesMin);
  EXPECT_STREQ(text, "0.0 % (0.0 mc)");
  RUNFIGURES_FormatLoad(text, sizeof text, context->nProcMax, context->nPerfPerBuffer, context->fMegacyclesMax);
  EXPECT_STREQ(text, "0.0 % (0.0 mc)");
  EXPECT_EQ(context->nDriverSamplePosition, 0);
  EXPECT_EQ(context->nDriverSystemTime, 0);

  SendMessageA(hwnd, WM_COMMAND, 14, 0);
  std::vector<std::string> lines = LogLines();
  EXPECT_EQ(lines.back(), "STOP ASIO DEVICE: " + bad) << "a run without a buffer logs no summary";
  int summaries = 0;
  for (const std::string& line : lines) summaries += line.compare(0, 13, "RUN SUMMARY: ") == 0;
  EXPECT_EQ(summaries, 1);
}

// File, Quit and the close box take one path: the test stops, and its stop
// and close lines are in the log before the log is released; the driver has
// disposed its buffers and been released.
class ShutdownTest : public MainWindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(ShutdownTest, StopsTheTestBeforeReleasingTheLog) {
  std::string report = AddReportFile("shutdown");
  std::string name = AddProfile("Shutdown", {report});
  OpenMainWindow();
  int index = IndexOf(name);
  ASSERT_GT(index, 0);
  SendMessageA(hwnd, WM_COMMAND, CMD_ASIODRIVER_FIRST - 1 + index, 0);
  EXPECT_TRUE(LogHas("START ASIO DEVICE: Running"));
  Pump(500);

  if (GetParam() == 0)
    PostMessageA(hwnd, WM_COMMAND, 11, 0);
  else
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
  PostMessageA(hwnd, WM_DESTROY, 0, 0);  // a second one before the quit message
  Pump(10000);
  ASSERT_TRUE(quit);
  EXPECT_EQ(g_releaseCalls, 1);
  EXPECT_EQ(g_appContext.log.pText, nullptr);

  std::vector<std::string> lines = LinesOf(g_finalLog);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 4], "STOP ASIO DEVICE: " + name);
  EXPECT_EQ(lines[lines.size() - 3], "CLOSE DEVICE");
  EXPECT_EQ(lines[lines.size() - 2].find("RUN SUMMARY: "), 0u);
  EXPECT_EQ(lines[lines.size() - 1].find("RUN DISTRIBUTION: "), 0u);

  std::map<std::string, std::string> values = SIMTEST_ReadReport(profiles.Files()[0]);
  EXPECT_GT(atoi(values["switches"].c_str()), 10);
  HMODULE dll = GetModuleHandleW(SIMTEST_DllPath().c_str());
  if (dll) {
    typedef HRESULT(STDAPICALLTYPE * CANUNLOAD)(void);
    CANUNLOAD canUnload = (CANUNLOAD)(void*)GetProcAddress(dll, "DllCanUnloadNow");
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_OK) << "a driver object is still alive";
  }
  QZ2CTL_EndModule();
  APPCONTEXT_Free();
}

INSTANTIATE_TEST_SUITE_P(QuitAndCloseBox, ShutdownTest, ::testing::Values(0, 1));

}  // namespace
