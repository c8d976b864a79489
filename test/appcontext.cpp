#include "app/appcontext.h"

// The application's record, defined in the lowest library that the program,
// the test control and the status panel all link. Static storage: zero
// before anything runs, which every atomic member reads as its zero value.
APPCONTEXT g_appContext;
