// Shared GDI objects of the control library and the mini list view class.
#include "ui/qz2ctl.h"

#include "ui/minilistview.h"

static QZ2CTL_MODULE g_qz2ctl;

static const COLORREF g_qz2ctlColors[QZ2CTL_TABLE_SIZE] = {
    0x000000, 0x1428CC, 0x1E3CFC, 0x36EBF0, 0x9D1C06, 0xE25F0F, 0xE4938C, 0x7A6B03,
    0x31A724, 0x404040, 0x545454, 0x6E6E6E, 0x828282, 0xB4B4B4, 0xE6E6E6, 0xFFFFFF};

// Entry 12 is as heavy as entry 13 on purpose.
static const LONG g_qz2ctlFontHeights[QZ2CTL_TABLE_SIZE] = {10, 10, 12, 12, 14, 14, 16, 16,
                                                            18, 18, 20, 20, 26, 26, 38, 38};
static const LONG g_qz2ctlFontWeights[QZ2CTL_TABLE_SIZE] = {400, 700, 400, 700, 400, 700,
                                                            400, 700, 400, 700, 400, 700,
                                                            800, 800, 400, 800};

static BOOL QZ2CTL_RegisterListViewClass(void)
{
    WNDCLASSA wc;

    ZeroMemory(&wc, sizeof(wc));
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MINILISTVIEW_WndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = g_qz2ctl.hInstance;
    wc.hIcon = NULL;
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = NULL;  // the control paints its whole surface
    wc.lpszMenuName = NULL;
    wc.lpszClassName = QZ2CTL_MINILISTVIEW_CLASS;
    return RegisterClassA(&wc) != 0;
}

static HFONT QZ2CTL_CreateArial(LONG height, LONG weight)
{
    LOGFONTA lf;

    ZeroMemory(&lf, sizeof(lf));
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfCharSet = ANSI_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    lstrcpynA(lf.lfFaceName, "Arial", LF_FACESIZE);
    return CreateFontIndirectA(&lf);
}

static void QZ2CTL_CreateObjects(void)
{
    int i;

    for (i = 0; i < QZ2CTL_TABLE_SIZE; i++)
        g_qz2ctl.crColors[i] = g_qz2ctlColors[i];
    for (i = 0; i < QZ2CTL_TABLE_SIZE; i++)
        g_qz2ctl.hBrushes[i] = CreateSolidBrush(g_qz2ctl.crColors[i]);
    for (i = 0; i < QZ2CTL_TABLE_SIZE; i++)
        g_qz2ctl.hPens[i] = CreatePen(PS_SOLID, 0, g_qz2ctl.crColors[i]);
    g_qz2ctl.hDashDotPen = CreatePen(PS_DASHDOT, 0, g_qz2ctl.crColors[0]);
    for (i = 0; i < QZ2CTL_TABLE_SIZE; i++)
        g_qz2ctl.hFonts[i] = QZ2CTL_CreateArial(g_qz2ctlFontHeights[i], g_qz2ctlFontWeights[i]);
}

static void QZ2CTL_DeleteObjects(void)
{
    int i;

    for (i = 0; i < QZ2CTL_TABLE_SIZE; i++)
    {
        if (g_qz2ctl.hBrushes[i])
        {
            DeleteObject(g_qz2ctl.hBrushes[i]);
            g_qz2ctl.hBrushes[i] = NULL;
        }
        if (g_qz2ctl.hPens[i])
        {
            DeleteObject(g_qz2ctl.hPens[i]);
            g_qz2ctl.hPens[i] = NULL;
        }
    }
    if (g_qz2ctl.hDashDotPen)
    {
        DeleteObject(g_qz2ctl.hDashDotPen);
        g_qz2ctl.hDashDotPen = NULL;
    }
    for (i = 0; i < QZ2CTL_TABLE_SIZE; i++)
    {
        if (g_qz2ctl.hFonts[i])
        {
            DeleteObject(g_qz2ctl.hFonts[i]);
            g_qz2ctl.hFonts[i] = NULL;
        }
    }
}

int QZ2CTL_InitModule(HINSTANCE hInstance)
{
    g_qz2ctl.nRefCount++;
    if (g_qz2ctl.nRefCount > 1)
        return 1;

    g_qz2ctl.hInstance = hInstance;
    g_qz2ctl.bClassRegistered = QZ2CTL_RegisterListViewClass();
    if (!g_qz2ctl.bClassRegistered)
        return 0;

    QZ2CTL_CreateObjects();

    g_qz2ctl.hShell32 = LoadLibraryA("SHELL32.DLL");
    if (g_qz2ctl.hShell32)
        g_qz2ctl.pfnExtractIcon =
            (QZ2CTL_EXTRACTICONPROC)(void*)GetProcAddress(g_qz2ctl.hShell32, "SHDefExtractIconW");
    return 1;
}

void QZ2CTL_EndModule(void)
{
    // A release without an initialisation must not push the count below 0,
    // or the next initialisation would build objects that no release deletes.
    if (g_qz2ctl.nRefCount <= 0)
        return;
    g_qz2ctl.nRefCount--;
    if (g_qz2ctl.nRefCount != 0)
        return;

    QZ2CTL_DeleteObjects();
    if (g_qz2ctl.bClassRegistered)
        UnregisterClassA(QZ2CTL_MINILISTVIEW_CLASS, g_qz2ctl.hInstance);
    g_qz2ctl.bClassRegistered = FALSE;
    if (g_qz2ctl.hShell32)
        FreeLibrary(g_qz2ctl.hShell32);
    g_qz2ctl.hShell32 = NULL;
    g_qz2ctl.pfnExtractIcon = NULL;
}

static BOOL QZ2CTL_IsIndex(int index)
{
    return index >= 0 && index < QZ2CTL_TABLE_SIZE;
}

COLORREF QZ2CTL_GetColor(int index)
{
    return QZ2CTL_IsIndex(index) ? g_qz2ctl.crColors[index] : 0;
}

HBRUSH QZ2CTL_GetBrush(int index)
{
    return QZ2CTL_IsIndex(index) ? g_qz2ctl.hBrushes[index] : NULL;
}

HPEN QZ2CTL_GetPen(int index)
{
    return QZ2CTL_IsIndex(index) ? g_qz2ctl.hPens[index] : NULL;
}

HFONT QZ2CTL_GetFont(int index)
{
    return QZ2CTL_IsIndex(index) ? g_qz2ctl.hFonts[index] : NULL;
}

HPEN QZ2CTL_GetDashDotPen(void)
{
    return g_qz2ctl.hDashDotPen;
}

const QZ2CTL_MODULE* QZ2CTL_GetModule(void)
{
    return &g_qz2ctl;
}

const char* QZ2CTL_GetErrorText(int code)
{
    switch (code)
    {
    case QZ2CTL_ERROR_NONE:
        return "[QZ2CTL] No error";
    case QZ2CTL_ERROR_NOTINITIALIZED:
        return "[QZ2CTL] Module not initialized !";
    default:
        return "";
    }
}
