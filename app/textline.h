// TEXTLINE: a line built piece by piece in the caller's array, with numbers
// formatted here instead of by the C library, whose formatting takes a
// process-wide lock that the audio thread must never wait on. Each number
// reads exactly as printf writes it. Platform-free.
#ifndef MB_APP_TEXTLINE_H
#define MB_APP_TEXTLINE_H

#include <stddef.h>
#include <stdint.h>

typedef struct TEXTLINE {
  char* pText;     // the caller's array, always ended by a zero
  size_t nSize;    // its size, the zero included
  size_t nLength;  // characters stored; what does not fit is cut
} TEXTLINE;

// FIXED_MAX_DECIMALS bounds the decimals of TEXTLINE_Fixed.
enum { FIXED_MAX_DECIMALS = 3 };

void TEXTLINE_Init(TEXTLINE* line, char* out, size_t size);
void TEXTLINE_Text(TEXTLINE* line, const char* text);
void TEXTLINE_Chars(TEXTLINE* line, const char* text, size_t length);
// As "%.*lli" with minDigits (0 counts as 1): '-' only for negative values.
void TEXTLINE_Int(TEXTLINE* line, int64_t value, int minDigits);
// As "%.*f": rounded to nearest from the exact binary value, ties to even;
// a NaN reads "nan" whatever its sign.
void TEXTLINE_Fixed(TEXTLINE* line, double value, int decimals);

#endif  // MB_APP_TEXTLINE_H
