#include "ui/minilistview.h"

#include <vector>

#include <gtest/gtest.h>

#include "ui/qz2ctl.h"

namespace {

struct Event {
  int32_t code;
  MINILISTVIEW_ITEM item;
};

// Default geometry: 200 x 206, scroll bar 16, rows of 20, thumb 20; so the
// list is 184 wide, the track 174 long and 10 rows are visible.
struct Geometry {
  int32_t width = 200;
  int32_t height = 206;
  int32_t scrollBar = 16;
  int32_t rowHeight = 20;
  int32_t thumb = 20;
  int32_t style = 0;
};

const char kOwnerClass[] = "mb_minilistview_test_owner";

class MiniListViewTest : public ::testing::Test {
 protected:
  // One visible owner for the whole suite: a top-level window costs Wine's
  // X11 driver a noticeable time to map and unmap.
  static void SetUpTestSuite() {
    ASSERT_EQ(1, QZ2CTL_InitModule(GetModuleHandleA(NULL)));
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof(wc));
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = kOwnerClass;
    RegisterClassA(&wc);
    owner_ = CreateWindowExA(0, kOwnerClass, "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 500, 600, NULL,
                             NULL, GetModuleHandleA(NULL), NULL);
  }
  static void TearDownTestSuite() {
    DestroyWindow(owner_);
    UnregisterClassA(kOwnerClass, GetModuleHandleA(NULL));
    QZ2CTL_EndModule();
  }

  void SetUp() override {
    ASSERT_NE(nullptr, owner_);
    Drain();
  }
  void TearDown() override {
    if (IsWindow(list_)) DestroyWindow(list_);
    ReleaseCapture();
    Drain();
  }
  static void Drain() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE); i++) DispatchMessageA(&msg);
  }

  static int Record(void* user, int32_t code, MINILISTVIEW_ITEM* item) {
    static_cast<MiniListViewTest*>(user)->events_.push_back({code, *item});
    return 0;
  }

  MINILISTVIEW Template(int32_t count, const Geometry& g) {
    MINILISTVIEW t;
    ZeroMemory(&t, sizeof(t));
    t.hOwner = owner_;
    t.nWidth = g.width;
    t.nHeight = g.height;
    t.nIdentifier = 0x1234;
    t.nStyle = g.style;
    t.nScrollBarWidth = g.scrollBar;
    t.nThumbLength = g.thumb;
    t.nItemCount = count;
    t.nRowHeight = g.rowHeight;
    t.pCallback = Record;
    t.pUserData = this;
    return t;
  }

  HWND CreateFrom(const MINILISTVIEW* t, const Geometry& g) {
    return CreateWindowExA(0, QZ2CTL_MINILISTVIEW_CLASS, "", WS_CHILD | WS_VISIBLE, 10, 10, g.width, g.height,
                           owner_, (HMENU)7, GetModuleHandleA(NULL), (LPVOID)t);
  }

  void Create(int32_t count, const Geometry& g = Geometry()) {
    MINILISTVIEW t = Template(count, g);
    list_ = CreateFrom(&t, g);
    ASSERT_NE(nullptr, list_);
    UpdateWindow(owner_);
    UpdateWindow(list_);
    events_.clear();
  }

  MINILISTVIEW* View() { return MINILISTVIEW_FromWindow(list_); }
  int32_t Selection() { return View()->nSelection; }
  int32_t Top() { return View()->nTop; }

  void Send(UINT msg, WPARAM wParam, LPARAM lParam) { SendMessageA(list_, msg, wParam, lParam); }
  void Key(WPARAM vk, int times = 1) {
    for (int i = 0; i < times; i++) Send(WM_KEYDOWN, vk, 0);
  }
  void Wheel(short delta) { Send(WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)delta), 0); }
  void Down(int x, int y, WPARAM keys = 0) { Send(WM_LBUTTONDOWN, MK_LBUTTON | keys, MAKELPARAM(x, y)); }
  void Up(int x, int y) { Send(WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }
  void Click(int x, int y, WPARAM keys = 0) {
    Down(x, y, keys);
    Up(x, y);
  }
  void Move(int x, int y) { Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y)); }
  void Tick(int times = 1) {
    for (int i = 0; i < times; i++) Send(WM_TIMER, MINILISTVIEW_REPEAT_TIMER, 0);
  }
  void Paint() {
    events_.clear();
    InvalidateRect(list_, NULL, FALSE);
    UpdateWindow(list_);
  }
  bool Invalidated() { return GetUpdateRect(list_, NULL, FALSE) != 0; }
  void Validate() { ValidateRect(list_, NULL); }

  std::vector<int32_t> Codes() const {
    std::vector<int32_t> codes;
    for (const Event& e : events_) codes.push_back(e.code);
    return codes;
  }
  int CountOf(int32_t code) const {
    int n = 0;
    for (const Event& e : events_) n += e.code == code;
    return n;
  }
  const Event* Find(int32_t code) const {
    for (const Event& e : events_)
      if (e.code == code) return &e;
    return nullptr;
  }

  static HWND owner_;
  HWND list_ = NULL;
  std::vector<Event> events_;
};

HWND MiniListViewTest::owner_ = NULL;

void ExpectRect(const MINILISTVIEW_ITEM& item, int32_t top, int32_t left, int32_t width, int32_t height) {
  EXPECT_EQ(top, item.nTop);
  EXPECT_EQ(left, item.nLeft);
  EXPECT_EQ(width, item.nWidth);
  EXPECT_EQ(height, item.nHeight);
}

/* Creation and geometry */

TEST_F(MiniListViewTest, CreationCopiesTheTemplateAndSetsTheControlsOwnFields) {
  Geometry g;
  MINILISTVIEW t = Template(42, g);
  t.bEnabled = 0;
  t.nSelection = 9;
  t.nListWidth = 1;
  t.nRepeatTimer = 77;
  t.bRepeatStopped = 1;
  list_ = CreateFrom(&t, g);
  ASSERT_NE(nullptr, list_);
  MINILISTVIEW* v = View();
  ASSERT_NE(nullptr, v);
  EXPECT_NE(&t, v);
  EXPECT_EQ(list_, v->hWnd);
  EXPECT_EQ(owner_, v->hOwner);
  EXPECT_EQ(1, v->bEnabled);
  EXPECT_EQ(1, v->nSelection);
  EXPECT_EQ(42, v->nItemCount);
  EXPECT_EQ(184, v->nListWidth);
  EXPECT_EQ(174, v->nTrackLength);
  EXPECT_EQ(10, v->nVisibleRows);
  EXPECT_EQ(0x1234, v->item.nIdentifier);
  EXPECT_EQ(list_, v->item.hWnd);
  EXPECT_EQ(this, v->pUserData);
  EXPECT_EQ(0u, v->nRepeatTimer);
  EXPECT_EQ(0, v->bRepeatStopped);
  EXPECT_EQ(nullptr, MINILISTVIEW_FromWindow(owner_));
}

TEST_F(MiniListViewTest, CreationIsRefusedWithoutTemplateRowHeightOrCallback) {
  Geometry g;
  EXPECT_EQ(nullptr, CreateFrom(nullptr, g));
  MINILISTVIEW t = Template(5, g);
  t.nRowHeight = 0;
  EXPECT_EQ(nullptr, CreateFrom(&t, g));
  t.nRowHeight = -4;
  EXPECT_EQ(nullptr, CreateFrom(&t, g));
  t = Template(5, g);
  t.pCallback = nullptr;
  EXPECT_EQ(nullptr, CreateFrom(&t, g));
}

TEST_F(MiniListViewTest, SizeRecomputesListWidthTrackAndVisibleRows) {
  Create(30);
  Send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 106));
  EXPECT_EQ(300, View()->nWidth);
  EXPECT_EQ(106, View()->nHeight);
  EXPECT_EQ(284, View()->nListWidth);
  EXPECT_EQ(74, View()->nTrackLength);
  EXPECT_EQ(5, View()->nVisibleRows);
  MoveWindow(list_, 0, 0, 120, 66, FALSE);
  EXPECT_EQ(104, View()->nListWidth);
  EXPECT_EQ(3, View()->nVisibleRows);
}

TEST_F(MiniListViewTest, AWindowLowerThanItsMarginShowsNoRowsAndPagesNowhere) {
  Geometry g;
  g.rowHeight = 3;
  Create(30, g);
  Send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(200, 0));
  EXPECT_EQ(0, View()->nVisibleRows);
  Key(VK_DOWN, 5);
  Key(VK_PRIOR);
  EXPECT_EQ(6, Selection());
}

TEST_F(MiniListViewTest, SingleRowModeShowsOneRowOverTheWholeHeight) {
  Geometry g;
  g.height = 40;
  g.style = MINILISTVIEW_STYLE_SINGLEROW;
  Create(5, g);
  EXPECT_EQ(1, View()->nVisibleRows);
  Key(VK_DOWN, 2);
  EXPECT_EQ(3, Selection());
  EXPECT_EQ(2, Top());
  Paint();
  ASSERT_EQ(1, CountOf(MINILISTVIEW_CODE_DRAWROW));
  const Event* row = Find(MINILISTVIEW_CODE_DRAWROW);
  EXPECT_EQ(3, row->item.nItem);
  EXPECT_EQ(1, row->item.nState);
  ExpectRect(row->item, 0, 0, 184, 40);
  const Event* done = Find(MINILISTVIEW_CODE_ROWSDONE);
  ASSERT_NE(nullptr, done);
  EXPECT_EQ(4, done->item.nItem);
  EXPECT_EQ(20, done->item.nTop);
}

TEST_F(MiniListViewTest, CloseDestroysTheControl) {
  Create(3);
  Send(WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(list_));
}

/* Painting */

TEST_F(MiniListViewTest, PaintDrawsTheScrollBarThenEveryRowThenDone) {
  Create(3);
  Paint();
  std::vector<int32_t> expected = {16, 5, 17, 17};
  for (int i = 0; i < 11; i++) expected.push_back(1);
  expected.push_back(6);
  ASSERT_EQ(expected, Codes());

  ExpectRect(events_[0].item, 0, 184, 16, 16);     // up button
  ExpectRect(events_[1].item, 16, 184, 16, 174);   // track
  ExpectRect(events_[2].item, 16, 184, 16, 20);    // thumb
  ExpectRect(events_[3].item, 190, 184, 16, 16);   // down button
  for (int i = 0; i < 4; i++) EXPECT_EQ(0, events_[i].item.nState) << i;
  for (int i = 0; i < 11; i++) {
    const MINILISTVIEW_ITEM& row = events_[4 + i].item;
    EXPECT_EQ(i + 1, row.nItem);  // rows past the third item are sent too
    ExpectRect(row, 20 * i, 0, 184, i < 10 ? 20 : 6);  // the last one cut at the bottom
    EXPECT_EQ(i == 0 ? 1 : 0, row.nState);
    EXPECT_NE(nullptr, row.hDC);
    EXPECT_EQ(0x1234, row.nIdentifier);
    EXPECT_EQ(list_, row.hWnd);
  }
  const MINILISTVIEW_ITEM& done = events_.back().item;
  EXPECT_EQ(12, done.nItem);
  EXPECT_EQ(220, done.nTop);
  EXPECT_EQ(6, done.nHeight);
}

TEST_F(MiniListViewTest, EraseBackgroundFillsListAndColumnWithTheMessagesDC) {
  Create(3);
  HDC hDC = GetDC(list_);
  EXPECT_EQ(1, SendMessageA(list_, WM_ERASEBKGND, (WPARAM)hDC, 0));
  ReleaseDC(list_, hDC);
  ASSERT_EQ((std::vector<int32_t>{4, 5}), Codes());
  ExpectRect(events_[0].item, 0, 0, 184, 206);
  ExpectRect(events_[1].item, 0, 184, 16, 206);
  EXPECT_EQ(hDC, events_[0].item.hDC);
  EXPECT_EQ(hDC, events_[1].item.hDC);
}

TEST_F(MiniListViewTest, ThumbFollowsTheSelectionWithinTheTrack) {
  Create(100);
  Key(VK_END);
  Paint();
  ExpectRect(events_[2].item, 16 + 154, 184, 16, 20);
  Key(VK_HOME);
  Key(VK_DOWN);  // 154 / 99 = 1.56, rounded up
  Paint();
  EXPECT_EQ(16 + 2, events_[2].item.nTop);
}

/* Clicks on rows */

TEST_F(MiniListViewTest, ClickOnAnotherRowSelectsItWithCode7State0AndNoCode12) {
  Create(20);
  Click(50, 3 + 2 * 20 + 5, MK_SHIFT | MK_CONTROL);
  EXPECT_EQ(3, Selection());
  const Event* click = Find(MINILISTVIEW_CODE_CLICK);
  ASSERT_NE(nullptr, click);
  EXPECT_EQ(MINILISTVIEW_CODE_CLICK, events_[0].code);
  EXPECT_EQ(3, click->item.nItem);
  EXPECT_EQ(43, click->item.nTop);
  EXPECT_EQ(50, click->item.nLeft);
  EXPECT_EQ(20, click->item.nHeight);
  EXPECT_EQ(MK_SHIFT | MK_CONTROL, click->item.nKeys);
  EXPECT_EQ(0, click->item.nState);
  EXPECT_EQ(0, click->item.nReserved);
  EXPECT_EQ(0, CountOf(MINILISTVIEW_CODE_SELCHANGED));
  EXPECT_EQ(1, CountOf(MINILISTVIEW_CODE_UPBUTTON));  // scroll bar and rows redrawn at once
  EXPECT_EQ(11, CountOf(MINILISTVIEW_CODE_DRAWROW));
}

TEST_F(MiniListViewTest, ClickOnTheSelectedRowSendsState1) {
  Create(20);
  Click(10, 10);
  const Event* click = Find(MINILISTVIEW_CODE_CLICK);
  ASSERT_NE(nullptr, click);
  EXPECT_EQ(1, click->item.nItem);
  EXPECT_EQ(1, click->item.nState);
  EXPECT_EQ(0, click->item.nKeys);
}

TEST_F(MiniListViewTest, ClickBeyondTheLastItemSelectsNothingButRepaints) {
  Create(3);
  Click(10, 3 + 4 * 20 + 1);
  EXPECT_EQ(1, Selection());
  EXPECT_EQ(0, CountOf(MINILISTVIEW_CODE_CLICK));
  EXPECT_EQ(11, CountOf(MINILISTVIEW_CODE_DRAWROW));
}

TEST_F(MiniListViewTest, ClickCountsFromTheScrolledTop) {
  Create(100);
  Key(VK_END);
  ASSERT_EQ(90, Top());
  events_.clear();
  Click(10, 3 + 20 + 1);
  EXPECT_EQ(92, Selection());
  EXPECT_EQ(92, Find(MINILISTVIEW_CODE_CLICK)->item.nItem);
}

/* Wheel and keys */

TEST_F(MiniListViewTest, WheelMovesOneRowPerMessageAwayFromTheUserMeaningNext) {
  Create(20);
  Wheel(WHEEL_DELTA);
  EXPECT_EQ(2, Selection());
  Wheel(5 * WHEEL_DELTA);
  EXPECT_EQ(3, Selection());
  Wheel(-WHEEL_DELTA);
  EXPECT_EQ(2, Selection());
  const Event* changed = Find(MINILISTVIEW_CODE_SELCHANGED);
  ASSERT_NE(nullptr, changed);
  EXPECT_EQ(2, changed->item.nItem);
  EXPECT_EQ(1, changed->item.nState);
  EXPECT_EQ(3, CountOf(MINILISTVIEW_CODE_SELCHANGED));
  EXPECT_TRUE(Invalidated());
}

TEST_F(MiniListViewTest, WheelStopsAtBothEndsWithoutNotifying) {
  Create(3);
  Wheel(-WHEEL_DELTA);
  Wheel(WHEEL_DELTA);
  Wheel(WHEEL_DELTA);
  events_.clear();
  Wheel(WHEEL_DELTA);
  EXPECT_EQ(3, Selection());
  EXPECT_TRUE(events_.empty());
}

TEST_F(MiniListViewTest, ArrowKeysAndNumericPadMoveOneRowAndScrollIntoView) {
  Create(100);
  Key(VK_DOWN, 9);
  EXPECT_EQ(10, Selection());
  EXPECT_EQ(0, Top());
  Key(VK_NUMPAD2);
  EXPECT_EQ(11, Selection());
  EXPECT_EQ(1, Top());
  Key(VK_UP, 10);
  EXPECT_EQ(1, Selection());
  EXPECT_EQ(0, Top());
  Key(VK_NUMPAD2);
  Key(VK_NUMPAD8);
  EXPECT_EQ(1, Selection());
  events_.clear();
  Validate();
  Key(VK_UP);
  EXPECT_TRUE(events_.empty());
  EXPECT_FALSE(Invalidated());
}

TEST_F(MiniListViewTest, HomeAndEndFromTheMiddle) {
  Create(100);
  Key(VK_DOWN, 50);
  ASSERT_EQ(51, Selection());
  ASSERT_EQ(41, Top());
  Key(VK_HOME);
  EXPECT_EQ(1, Selection());
  EXPECT_EQ(0, Top());
  Key(VK_END);
  EXPECT_EQ(100, Selection());
  EXPECT_EQ(90, Top());  // the last item on the last visible row
  events_.clear();
  Key(VK_END);
  EXPECT_TRUE(events_.empty());
}

TEST_F(MiniListViewTest, PageKeysMoveByTheVisibleRows) {
  Create(25);
  Key(VK_NEXT);
  EXPECT_EQ(11, Selection());
  EXPECT_EQ(10, Top());
  EXPECT_EQ(1, CountOf(MINILISTVIEW_CODE_SELCHANGED));
  EXPECT_TRUE(Invalidated());
  Key(VK_NEXT);
  EXPECT_EQ(21, Selection());
  EXPECT_EQ(15, Top());  // never past the last full page
  Key(VK_NEXT);
  EXPECT_EQ(25, Selection());
  EXPECT_EQ(15, Top());
  events_.clear();
  Key(VK_NEXT);
  EXPECT_TRUE(events_.empty());
  Key(VK_PRIOR);
  EXPECT_EQ(15, Selection());
  EXPECT_EQ(5, Top());
  Key(VK_PRIOR, 2);
  EXPECT_EQ(1, Selection());
  EXPECT_EQ(0, Top());
  events_.clear();
  Key(VK_PRIOR);
  EXPECT_TRUE(events_.empty());
}

TEST_F(MiniListViewTest, OtherKeysAndSystemMessagesGoToTheOwner) {
  Create(10);
  Send(WM_KEYDOWN, VK_TAB, 0x000F0001);
  Send(WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  Send(WM_KEYDOWN, VK_DOWN, 0x00500001);  // used, not passed on
  Send(WM_KEYUP, VK_DOWN, (LPARAM)0xC0500001);
  Send(WM_SYSKEYDOWN, VK_MENU, 0x20380001);
  Send(WM_SYSKEYUP, VK_MENU, (LPARAM)0xC0380001);
  Send(WM_SYSCOMMAND, SC_CLOSE, 0);
  Send(WM_COMMAND, MINILISTVIEW_CMD_DISABLE, 0);
  Send(WM_KEYDOWN, 'A', 0x001E0001);  // passed on while disabled too

  std::vector<MSG> posted;
  MSG msg;
  for (int i = 0; i < 100 && PeekMessageA(&msg, owner_, 0, 0, PM_REMOVE); i++) {
    if (msg.message == WM_PAINT) ValidateRect(owner_, NULL);
    if ((msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) || msg.message == WM_SYSCOMMAND)
      posted.push_back(msg);
  }
  struct Expected {
    UINT msg;
    WPARAM wParam;
    DWORD lParam;
  };
  const Expected expected[] = {{WM_KEYDOWN, VK_TAB, 0x000F0001},    {WM_KEYDOWN, VK_ESCAPE, 0x00010001},
                               {WM_KEYUP, VK_DOWN, 0xC0500001},     {WM_SYSKEYDOWN, VK_MENU, 0x20380001},
                               {WM_SYSKEYUP, VK_MENU, 0xC0380001}, {WM_SYSCOMMAND, SC_CLOSE, 0},
                               {WM_KEYDOWN, 'A', 0x001E0001}};
  ASSERT_EQ(sizeof(expected) / sizeof(expected[0]), posted.size());
  for (size_t i = 0; i < posted.size(); i++) {
    EXPECT_EQ(expected[i].msg, posted[i].message) << i;
    EXPECT_EQ(expected[i].wParam, posted[i].wParam) << i;
    EXPECT_EQ(expected[i].lParam, (DWORD)posted[i].lParam) << i;
  }
  EXPECT_EQ(2, Selection());
}

/* Enable and disable */

TEST_F(MiniListViewTest, DisabledControlIgnoresMouseWheelAndNavigationKeys) {
  Create(50);
  Validate();
  Send(WM_COMMAND, MINILISTVIEW_CMD_DISABLE, 0);
  EXPECT_EQ(0, View()->bEnabled);
  EXPECT_TRUE(Invalidated());
  Validate();
  events_.clear();
  Key(VK_DOWN);
  Key(VK_NEXT);
  Key(VK_END);
  Wheel(WHEEL_DELTA);
  Click(10, 50);
  Click(190, 200);
  EXPECT_EQ(1, Selection());
  EXPECT_TRUE(events_.empty());
  EXPECT_FALSE(Invalidated());

  Send(WM_COMMAND, MINILISTVIEW_CMD_ENABLE, 0);
  EXPECT_EQ(1, View()->bEnabled);
  EXPECT_TRUE(Invalidated());
  Key(VK_DOWN);
  EXPECT_EQ(2, Selection());
}

/* Nothing to move */

TEST_F(MiniListViewTest, NoneOrOneItemChangesNothing) {
  for (int32_t count = 0; count <= 1; count++) {
    Create(count);
    const WPARAM keys[] = {VK_UP, VK_DOWN, VK_NUMPAD8, VK_NUMPAD2, VK_PRIOR, VK_NEXT, VK_HOME, VK_END};
    for (WPARAM k : keys) Key(k);
    Wheel(WHEEL_DELTA);
    Wheel(-WHEEL_DELTA);
    Click(190, 5);    // up button
    Click(190, 200);  // down button
    Down(190, 20);    // thumb
    Move(190, 150);
    Up(190, 150);
    EXPECT_EQ(1, Selection()) << count;
    EXPECT_EQ(0, Top()) << count;
    EXPECT_EQ(0, CountOf(MINILISTVIEW_CODE_SELCHANGED)) << count;
    EXPECT_EQ(0, MINILISTVIEW_ThumbOffset(View())) << count;
    DestroyWindow(list_);
  }
}

/* Scroll bar buttons and the repeat timer */

TEST_F(MiniListViewTest, HoldingTheDownButtonMovesOnceThenRepeatsFaster) {
  Create(100);
  SetCapture(owner_);
  Down(190, 200);
  EXPECT_EQ(2, Selection());
  EXPECT_EQ(MINILISTVIEW_PART_DOWNBUTTON, View()->nPressedPart);
  EXPECT_EQ(list_, GetCapture());
  EXPECT_NE(0u, View()->nRepeatTimer);
  const Event* pressed = Find(MINILISTVIEW_CODE_DOWNBUTTON);
  ASSERT_NE(nullptr, pressed);
  ExpectRect(pressed->item, 190, 184, 16, 16);
  EXPECT_EQ(1, pressed->item.nState);
  EXPECT_EQ(1, CountOf(MINILISTVIEW_CODE_SELCHANGED));
  EXPECT_EQ(11, CountOf(MINILISTVIEW_CODE_DRAWROW));  // rows redrawn at once

  std::vector<int> moves;
  for (int tick = 1; tick <= 50; tick++) {
    int32_t before = Selection();
    Tick();
    if (Selection() != before) {
      EXPECT_EQ(before + 1, Selection());
      moves.push_back(tick);
    }
  }
  std::vector<int> expected = {9, 13, 17, 21, 23, 25, 27, 29, 31, 33, 35, 37, 39, 41};
  for (int tick = 42; tick <= 50; tick++) expected.push_back(tick);
  EXPECT_EQ(expected, moves);

  Up(190, 200);
  EXPECT_EQ(MINILISTVIEW_PART_NONE, View()->nPressedPart);
  EXPECT_EQ(0u, View()->nRepeatTimer);
  EXPECT_EQ(1, View()->bRepeatStopped);
  EXPECT_EQ(owner_, GetCapture());  // given back
  int32_t held = Selection();
  Tick(10);
  EXPECT_EQ(held, Selection());
  ReleaseCapture();
}

TEST_F(MiniListViewTest, EveryNewHoldRepeatsAgain) {
  Create(100);
  Click(190, 200);
  Down(190, 200);
  EXPECT_EQ(3, Selection());
  EXPECT_EQ(0, View()->bRepeatStopped);
  Tick(9);
  EXPECT_EQ(4, Selection());
  Up(190, 200);
}

TEST_F(MiniListViewTest, HoldingTheUpButtonMovesUpAndStopsAtTheTop) {
  Create(12);
  Key(VK_DOWN, 2);
  events_.clear();
  Down(190, 5);
  EXPECT_EQ(2, Selection());
  const Event* pressed = Find(MINILISTVIEW_CODE_UPBUTTON);
  ASSERT_NE(nullptr, pressed);
  EXPECT_EQ(1, pressed->item.nState);
  ExpectRect(pressed->item, 0, 184, 16, 16);
  Tick(9);
  EXPECT_EQ(1, Selection());
  events_.clear();
  Tick(40);
  EXPECT_EQ(1, Selection());
  EXPECT_EQ(0, CountOf(MINILISTVIEW_CODE_SELCHANGED));
  Up(190, 5);
  const Event* released = Find(MINILISTVIEW_CODE_UPBUTTON);
  ASSERT_NE(nullptr, released);
  EXPECT_EQ(0, released->item.nState);
  EXPECT_EQ(nullptr, GetCapture());
}

TEST_F(MiniListViewTest, TicksWithoutAHeldButtonMoveNothing) {
  Create(100);
  Tick(20);
  EXPECT_EQ(1, Selection());
  Click(10, 10);
  Tick(20);
  EXPECT_EQ(1, Selection());
}

TEST_F(MiniListViewTest, ReleaseWhileDisabledStillStopsTheRepeatAndFreesTheCapture) {
  Create(100);
  Down(190, 200);
  Send(WM_COMMAND, MINILISTVIEW_CMD_DISABLE, 0);
  Up(190, 200);
  EXPECT_EQ(0u, View()->nRepeatTimer);
  EXPECT_EQ(1, View()->bRepeatStopped);
  EXPECT_EQ(MINILISTVIEW_PART_NONE, View()->nPressedPart);
  EXPECT_NE(list_, GetCapture());
}

TEST_F(MiniListViewTest, CancelModeEndsAHold) {
  Create(100);
  Down(190, 200);
  Send(WM_CANCELMODE, 0, 0);
  EXPECT_EQ(MINILISTVIEW_PART_NONE, View()->nPressedPart);
  EXPECT_EQ(0u, View()->nRepeatTimer);
  EXPECT_NE(list_, GetCapture());
}

/* Thumb and track; 101 items on a track 100 pixels longer than the thumb,
   so the thumb offset is the selection minus one. */

Geometry HundredPixelTrack() {
  Geometry g;
  g.height = 152;  // track 120, 7 visible rows
  return g;
}

TEST_F(MiniListViewTest, DraggingTheThumbMovesTheSelectionByTheDistance) {
  Create(101, HundredPixelTrack());
  Down(190, 20);
  EXPECT_EQ(MINILISTVIEW_PART_THUMB, View()->nPressedPart);
  EXPECT_EQ(list_, GetCapture());
  EXPECT_EQ(0u, View()->nRepeatTimer);
  ASSERT_EQ((std::vector<int32_t>{5, 17}), Codes());
  EXPECT_EQ(1, events_[0].item.nState);
  EXPECT_EQ(1, events_[1].item.nState);

  events_.clear();
  Move(190, 30);
  EXPECT_EQ(11, Selection());
  EXPECT_EQ(4, Top());
  EXPECT_EQ(30, View()->nDragOrigin);
  EXPECT_EQ(1, CountOf(MINILISTVIEW_CODE_SELCHANGED));
  const Event& thumb = events_[events_.size() - 2];
  EXPECT_EQ(MINILISTVIEW_CODE_DOWNBUTTON, thumb.code);
  ExpectRect(thumb.item, 16 + 10, 184, 16, 20);
  EXPECT_EQ(1, thumb.item.nState);

  Move(190, -500);
  EXPECT_EQ(1, Selection());
  Move(190, 900);
  EXPECT_EQ(101, Selection());

  events_.clear();
  Up(190, 900);
  ASSERT_EQ((std::vector<int32_t>{5, 17}), Codes());
  EXPECT_EQ(0, events_[1].item.nState);
  EXPECT_EQ(MINILISTVIEW_PART_NONE, View()->nPressedPart);
}

TEST_F(MiniListViewTest, AFarDragOnAHugeListStopsAtItsEnd) {
  Create(2000000000, HundredPixelTrack());
  Down(190, 20);
  Move(190, 30000);
  EXPECT_EQ(2000000000, Selection());
  Move(190, -30000);
  EXPECT_EQ(1, Selection());
  Up(190, -30000);
}

TEST_F(MiniListViewTest, SlowThumbMovementsAddUp) {
  Geometry g;
  g.height = 452;  // the track is 400 pixels longer than the thumb: a quarter row a pixel
  Create(101, g);
  Down(190, 20);
  Move(190, 21);
  Move(190, 22);  // half a row is not yet a row
  EXPECT_EQ(1, Selection());
  EXPECT_EQ(20, View()->nDragOrigin);
  Move(190, 23);
  EXPECT_EQ(2, Selection());
  EXPECT_EQ(23, View()->nDragOrigin);
  Up(190, 23);
}

TEST_F(MiniListViewTest, AThumbAsLongAsItsTrackCannotBeDragged) {
  for (int32_t thumb : {120, 130}) {
    Geometry g = HundredPixelTrack();
    g.thumb = thumb;
    Create(101, g);
    Key(VK_DOWN, 50);
    Down(190, 60);
    EXPECT_EQ(MINILISTVIEW_PART_THUMB, View()->nPressedPart);
    events_.clear();
    Move(190, 100);
    Move(190, 20);
    EXPECT_EQ(51, Selection());
    EXPECT_TRUE(events_.empty());
    Up(190, 20);
    DestroyWindow(list_);
  }
}

TEST_F(MiniListViewTest, TrackPartOf25PixelsActsAsThumb) {
  Create(101, HundredPixelTrack());
  Key(VK_DOWN, 25);  // thumb offset 25
  Down(190, 16 + 10);
  EXPECT_EQ(MINILISTVIEW_PART_THUMB, View()->nPressedPart);
  Up(190, 16 + 10);
  EXPECT_EQ(26, Selection());

  Key(VK_DOWN, 50);  // offset 75: 25 pixels of track below the thumb
  Down(190, 16 + 75 + 20 + 10);
  EXPECT_EQ(MINILISTVIEW_PART_THUMB, View()->nPressedPart);
  Up(190, 16 + 75 + 20 + 10);
  EXPECT_EQ(76, Selection());
}

TEST_F(MiniListViewTest, TrackAboveTheThumbPagesUpOnRelease) {
  Create(101, HundredPixelTrack());
  Key(VK_DOWN, 26);  // offset 26
  int32_t top = Top();
  events_.clear();
  Down(190, 16 + 10);
  EXPECT_EQ(MINILISTVIEW_PART_TRACKABOVE, View()->nPressedPart);
  EXPECT_EQ(list_, GetCapture());
  ASSERT_EQ((std::vector<int32_t>{19}), Codes());
  ExpectRect(events_[0].item, 16, 184, 16, 26);
  EXPECT_EQ(1, events_[0].item.nState);
  EXPECT_EQ(27, Selection());  // nothing until release
  Up(190, 16 + 10);
  EXPECT_EQ(20, Selection());
  EXPECT_EQ(top - 7, Top());
  EXPECT_EQ(1, CountOf(MINILISTVIEW_CODE_SELCHANGED));
  EXPECT_NE(list_, GetCapture());
}

TEST_F(MiniListViewTest, TrackBelowTheThumbPagesDownOnRelease) {
  Create(101, HundredPixelTrack());
  Key(VK_DOWN, 73);  // offset 73: 27 pixels of track below
  events_.clear();
  Down(190, 16 + 73 + 20 + 10);
  EXPECT_EQ(MINILISTVIEW_PART_TRACKBELOW, View()->nPressedPart);
  ASSERT_EQ((std::vector<int32_t>{20}), Codes());
  ExpectRect(events_[0].item, 16 + 73 + 20, 184, 16, 27);
  Up(190, 16 + 73 + 20 + 10);
  EXPECT_EQ(81, Selection());
}

/* Focus */

TEST_F(MiniListViewTest, MouseActivateTakesTheFocus) {
  Create(5);
  EXPECT_EQ(MA_ACTIVATE, SendMessageA(list_, WM_MOUSEACTIVATE, (WPARAM)owner_, MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)));
  EXPECT_EQ(list_, GetFocus());
}

/* Geometry rules without a window */

MINILISTVIEW MakeRecord(int32_t track, int32_t thumb, int32_t count, int32_t selection) {
  MINILISTVIEW v;
  ZeroMemory(&v, sizeof(v));
  v.nScrollBarWidth = 16;
  v.nListWidth = 184;
  v.nRowHeight = 20;
  v.nVisibleRows = 10;
  v.nTrackLength = track;
  v.nThumbLength = thumb;
  v.nItemCount = count;
  v.nSelection = selection;
  return v;
}

TEST(MiniListViewRules, ThumbOffsetRoundsUpOnlyAboveOneHalf) {
  MINILISTVIEW v = MakeRecord(23, 20, 3, 2);  // 1.5
  EXPECT_EQ(1, MINILISTVIEW_ThumbOffset(&v));
  v = MakeRecord(27, 20, 4, 3);  // 4.67
  EXPECT_EQ(5, MINILISTVIEW_ThumbOffset(&v));
  v = MakeRecord(27, 20, 4, 2);  // 2.33
  EXPECT_EQ(2, MINILISTVIEW_ThumbOffset(&v));
  v = MakeRecord(27, 20, 4, 0);  // no selection: the top counts
  v.nTop = 2;
  EXPECT_EQ(5, MINILISTVIEW_ThumbOffset(&v));
  v = MakeRecord(27, 20, 1, 1);
  EXPECT_EQ(0, MINILISTVIEW_ThumbOffset(&v));
}

TEST(MiniListViewRules, HitTestRowsButtonsAndTrackEdges) {
  MINILISTVIEW v = MakeRecord(174, 20, 100, 1);
  EXPECT_EQ(1, MINILISTVIEW_HitTest(&v, 0, 0));
  EXPECT_EQ(1, MINILISTVIEW_HitTest(&v, 183, 22));
  EXPECT_EQ(2, MINILISTVIEW_HitTest(&v, 0, 23));
  EXPECT_EQ(10, MINILISTVIEW_HitTest(&v, 0, 205));  // never past the visible rows
  EXPECT_EQ(0, MINILISTVIEW_HitTest(&v, 0, -40));
  EXPECT_EQ(MINILISTVIEW_PART_UPBUTTON, MINILISTVIEW_HitTest(&v, 184, 15));
  EXPECT_EQ(MINILISTVIEW_PART_THUMB, MINILISTVIEW_HitTest(&v, 184, 16));
  EXPECT_EQ(MINILISTVIEW_PART_TRACKBELOW, MINILISTVIEW_HitTest(&v, 184, 190));
  EXPECT_EQ(MINILISTVIEW_PART_DOWNBUTTON, MINILISTVIEW_HitTest(&v, 184, 191));
  EXPECT_EQ(MINILISTVIEW_PART_THUMB, MINILISTVIEW_HitTest(&v, 184, 36));
  EXPECT_EQ(MINILISTVIEW_PART_TRACKBELOW, MINILISTVIEW_HitTest(&v, 184, 37));
}

}  // namespace
