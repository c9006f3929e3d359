#include "module/recursion.hpp"

#if YOL_OWN_RECURSION_COUNT
thread_local int RecursionGuard::depth_ = 0;
#endif
