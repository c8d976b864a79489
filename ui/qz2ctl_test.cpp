#include "ui/qz2ctl.h"

#include <string.h>

#include <gtest/gtest.h>

#include "ui/minilistview.h"

namespace {

const COLORREF kColors[QZ2CTL_TABLE_SIZE] = {0x000000, 0x1428CC, 0x1E3CFC, 0x36EBF0, 0x9D1C06, 0xE25F0F,
                                             0xE4938C, 0x7A6B03, 0x31A724, 0x404040, 0x545454, 0x6E6E6E,
                                             0x828282, 0xB4B4B4, 0xE6E6E6, 0xFFFFFF};
const LONG kHeights[QZ2CTL_TABLE_SIZE] = {10, 10, 12, 12, 14, 14, 16, 16, 18, 18, 20, 20, 26, 26, 38, 38};
const LONG kWeights[QZ2CTL_TABLE_SIZE] = {400, 700, 400, 700, 400, 700, 400, 700,
                                          400, 700, 400, 700, 800, 800, 400, 800};

HINSTANCE Instance() { return GetModuleHandleA(NULL); }

bool ClassRegistered() {
  WNDCLASSA wc;
  return GetClassInfoA(Instance(), QZ2CTL_MINILISTVIEW_CLASS, &wc) != 0;
}

void ExpectAllEntriesNull() {
  const QZ2CTL_MODULE* m = QZ2CTL_GetModule();
  for (int i = 0; i < QZ2CTL_TABLE_SIZE; i++) {
    EXPECT_EQ(nullptr, m->hBrushes[i]) << i;
    EXPECT_EQ(nullptr, m->hPens[i]) << i;
    EXPECT_EQ(nullptr, m->hFonts[i]) << i;
  }
  EXPECT_EQ(nullptr, m->hDashDotPen);
  EXPECT_EQ(nullptr, m->hShell32);
}

class Qz2ctlModule : public ::testing::Test {
 protected:
  void TearDown() override {
    while (QZ2CTL_GetModule()->nRefCount > 0) QZ2CTL_EndModule();
    EXPECT_FALSE(ClassRegistered());
  }
};

TEST_F(Qz2ctlModule, ClassNameCarriesTheA9ByteBetweenItsWords) {
  const char* name = QZ2CTL_MINILISTVIEW_CLASS;
  ASSERT_EQ(28u, strlen(name));
  EXPECT_EQ(0, memcmp(name, "qz2ctlb_miniListview", 20));
  EXPECT_EQ(0xA9, (unsigned char)name[20]);
  EXPECT_STREQ("Kestrum", name + 21);
}

TEST_F(Qz2ctlModule, InitRegistersTheListViewClass) {
  ASSERT_EQ(1, QZ2CTL_InitModule(Instance()));
  WNDCLASSA wc;
  ASSERT_TRUE(GetClassInfoA(Instance(), QZ2CTL_MINILISTVIEW_CLASS, &wc));
  EXPECT_EQ((UINT)(CS_HREDRAW | CS_VREDRAW), wc.style);
  EXPECT_EQ((WNDPROC)MINILISTVIEW_WndProc, wc.lpfnWndProc);
  EXPECT_EQ(0, wc.cbClsExtra);
  EXPECT_EQ(8, wc.cbWndExtra);
  EXPECT_EQ(nullptr, wc.hIcon);
  EXPECT_EQ(LoadCursorA(NULL, (LPCSTR)IDC_ARROW), wc.hCursor);
  EXPECT_EQ(nullptr, wc.hbrBackground);
  EXPECT_EQ(nullptr, wc.lpszMenuName);
}

TEST_F(Qz2ctlModule, InitFillsColoursBrushesAndPens) {
  ASSERT_EQ(1, QZ2CTL_InitModule(Instance()));
  for (int i = 0; i < QZ2CTL_TABLE_SIZE; i++) {
    EXPECT_EQ(kColors[i], QZ2CTL_GetColor(i)) << i;
    LOGBRUSH lb;
    ASSERT_EQ((int)sizeof(lb), GetObjectA(QZ2CTL_GetBrush(i), sizeof(lb), &lb)) << i;
    EXPECT_EQ((UINT)BS_SOLID, lb.lbStyle) << i;
    EXPECT_EQ(kColors[i], lb.lbColor) << i;
    LOGPEN lp;
    ASSERT_EQ((int)sizeof(lp), GetObjectA(QZ2CTL_GetPen(i), sizeof(lp), &lp)) << i;
    EXPECT_EQ((UINT)PS_SOLID, lp.lopnStyle) << i;
    EXPECT_EQ(0, lp.lopnWidth.x) << i;
    EXPECT_EQ(kColors[i], lp.lopnColor) << i;
  }
  LOGPEN dash;
  ASSERT_EQ((int)sizeof(dash), GetObjectA(QZ2CTL_GetDashDotPen(), sizeof(dash), &dash));
  EXPECT_EQ((UINT)PS_DASHDOT, dash.lopnStyle);
  EXPECT_EQ(0, dash.lopnWidth.x);
  EXPECT_EQ(0u, dash.lopnColor);
}

TEST_F(Qz2ctlModule, InitCreatesSixteenArialFontsWithTwelveAndThirteenDistinct) {
  ASSERT_EQ(1, QZ2CTL_InitModule(Instance()));
  for (int i = 0; i < QZ2CTL_TABLE_SIZE; i++) {
    LOGFONTA lf;
    ASSERT_EQ((int)sizeof(lf), GetObjectA(QZ2CTL_GetFont(i), sizeof(lf), &lf)) << i;
    EXPECT_EQ(kHeights[i], lf.lfHeight) << i;
    EXPECT_EQ(kWeights[i], lf.lfWeight) << i;
    EXPECT_STREQ("Arial", lf.lfFaceName) << i;
    EXPECT_EQ(0, lf.lfWidth) << i;
    EXPECT_EQ(0, lf.lfItalic | lf.lfUnderline | lf.lfStrikeOut) << i;
    EXPECT_EQ(ANSI_CHARSET, lf.lfCharSet) << i;
  }
  EXPECT_NE(QZ2CTL_GetFont(12), QZ2CTL_GetFont(13));
}

TEST_F(Qz2ctlModule, InitFindsTheShellIconExtractor) {
  ASSERT_EQ(1, QZ2CTL_InitModule(Instance()));
  EXPECT_NE(nullptr, QZ2CTL_GetModule()->hShell32);
  EXPECT_NE(nullptr, (void*)QZ2CTL_GetModule()->pfnExtractIcon);
}

TEST_F(Qz2ctlModule, SecondInitCreatesNothingAndOnlyTheLastReleaseDeletes) {
  ASSERT_EQ(1, QZ2CTL_InitModule(Instance()));
  QZ2CTL_MODULE first = *QZ2CTL_GetModule();

  EXPECT_EQ(1, QZ2CTL_InitModule(Instance()));
  EXPECT_EQ(0, memcmp(first.hBrushes, QZ2CTL_GetModule()->hBrushes, sizeof(first.hBrushes)));
  EXPECT_EQ(0, memcmp(first.hPens, QZ2CTL_GetModule()->hPens, sizeof(first.hPens)));
  EXPECT_EQ(0, memcmp(first.hFonts, QZ2CTL_GetModule()->hFonts, sizeof(first.hFonts)));
  EXPECT_EQ(first.hDashDotPen, QZ2CTL_GetDashDotPen());

  QZ2CTL_EndModule();
  EXPECT_TRUE(ClassRegistered());
  for (int i = 0; i < QZ2CTL_TABLE_SIZE; i++) {
    EXPECT_EQ(first.hBrushes[i], QZ2CTL_GetBrush(i));
    EXPECT_EQ((DWORD)OBJ_BRUSH, GetObjectType(first.hBrushes[i])) << i;
    EXPECT_EQ((DWORD)OBJ_PEN, GetObjectType(first.hPens[i])) << i;
    EXPECT_EQ((DWORD)OBJ_FONT, GetObjectType(first.hFonts[i])) << i;
  }

  QZ2CTL_EndModule();
  EXPECT_EQ(0, QZ2CTL_GetModule()->nRefCount);
  EXPECT_FALSE(ClassRegistered());
  ExpectAllEntriesNull();
  for (int i = 0; i < QZ2CTL_TABLE_SIZE; i++) {
    EXPECT_EQ(0u, GetObjectType(first.hBrushes[i])) << i;
    EXPECT_EQ(0u, GetObjectType(first.hPens[i])) << i;
    EXPECT_EQ(0u, GetObjectType(first.hFonts[i])) << i;
  }
  EXPECT_EQ(0u, GetObjectType(first.hDashDotPen));
}

TEST_F(Qz2ctlModule, InitAgainAfterFullReleaseBuildsAFreshLibrary) {
  ASSERT_EQ(1, QZ2CTL_InitModule(Instance()));
  QZ2CTL_EndModule();
  ASSERT_EQ(1, QZ2CTL_InitModule(Instance()));
  EXPECT_TRUE(ClassRegistered());
  EXPECT_EQ((DWORD)OBJ_FONT, GetObjectType(QZ2CTL_GetFont(15)));
}

TEST_F(Qz2ctlModule, ReleaseWithoutInitDoesNotUnbalanceTheCount) {
  QZ2CTL_EndModule();
  EXPECT_EQ(0, QZ2CTL_GetModule()->nRefCount);
  ASSERT_EQ(1, QZ2CTL_InitModule(Instance()));
  EXPECT_EQ(1, QZ2CTL_GetModule()->nRefCount);
  QZ2CTL_EndModule();
  EXPECT_FALSE(ClassRegistered());
  ExpectAllEntriesNull();
}

TEST_F(Qz2ctlModule, FailedRegistrationCreatesNoObjectAndLeavesTheOtherClassAlone) {
  WNDCLASSA wc;
  ZeroMemory(&wc, sizeof(wc));
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = Instance();
  wc.lpszClassName = QZ2CTL_MINILISTVIEW_CLASS;
  ASSERT_TRUE(RegisterClassA(&wc));

  EXPECT_EQ(0, QZ2CTL_InitModule(Instance()));
  ExpectAllEntriesNull();
  QZ2CTL_EndModule();
  EXPECT_TRUE(ClassRegistered());  // not ours to unregister
  ExpectAllEntriesNull();
  EXPECT_TRUE(UnregisterClassA(QZ2CTL_MINILISTVIEW_CLASS, Instance()));
}

TEST_F(Qz2ctlModule, IndicesOutsideTheTablesGiveNothing) {
  ASSERT_EQ(1, QZ2CTL_InitModule(Instance()));
  EXPECT_EQ(nullptr, QZ2CTL_GetBrush(-1));
  EXPECT_EQ(nullptr, QZ2CTL_GetPen(16));
  EXPECT_EQ(nullptr, QZ2CTL_GetFont(16));
  EXPECT_EQ(0u, QZ2CTL_GetColor(-1));
}

TEST_F(Qz2ctlModule, ErrorTexts) {
  EXPECT_STREQ("[QZ2CTL] No error", QZ2CTL_GetErrorText(QZ2CTL_ERROR_NONE));
  EXPECT_STREQ("[QZ2CTL] Module not initialized !", QZ2CTL_GetErrorText(QZ2CTL_ERROR_NOTINITIALIZED));
}

}  // namespace
