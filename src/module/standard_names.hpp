// The names under which the module body binds the standard modules it
// imports; the bodies look them up at each use, as the namespace names them.
#pragma once
#include "module/globals.hpp"

extern GlobalName json_name;    // json
extern GlobalName locale_name;  // locale
extern GlobalName os_name;      // os
extern GlobalName path_name;    // os.path
