// The control library's table indices that painting code names. A colour's
// solid brush and pen sit at the colour's index. Platform-free, so the
// panel's column walk names its pens too.
#ifndef MB_UI_QZ2CTL_INDEX_H
#define MB_UI_QZ2CTL_INDEX_H

enum { QZ2CTL_BLACK = 0, QZ2CTL_RED = 1, QZ2CTL_GREY = 11, QZ2CTL_LIGHT_GREY = 14, QZ2CTL_WHITE = 15 };

// Arial fonts by height and weight.
enum { QZ2CTL_FONT_14 = 4, QZ2CTL_FONT_16_BOLD = 7 };

#endif  // MB_UI_QZ2CTL_INDEX_H
