#include "app/appcontext.h"

// Static storage: zero before anything runs, which every atomic member reads
// as its zero value.
APPCONTEXT g_appContext;
