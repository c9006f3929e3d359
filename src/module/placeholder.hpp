// The body of a member whose behaviour is not built yet.
#pragma once
#include "module/call.hpp"

PyObject *not_built_yet(Call &call);
