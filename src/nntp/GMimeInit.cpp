// GLib's headers use "signals" as a name, which Qt defines as a keyword: GMime comes first.
#include <gmime/gmime.h>

#include "nntp/GMimeInit.h"

#include <mutex>

void InitGMime()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}
