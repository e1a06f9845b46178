// SPDX-License-Identifier: GPL-3.0-or-later
// The clock window's program: the application object as it is shipped.
#include "app/wx_app.h"

wxIMPLEMENT_APP(CVarnolApp);
