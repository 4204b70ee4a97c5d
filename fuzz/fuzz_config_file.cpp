// Config.chl, the server and newsgroup configuration, as the news store loads it at start.
#include "FuzzSupport.h"

#include "core/VorlixException.h"
#include "news/NewsStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Fuzz::WriteFile(TNewsStore::ConfigPath(), Fuzz::Bytes(data, size));
    TNewsStore store;
    try {
        store.LoadConfig();
    } catch (const EVorlixError&) {
        // A file that cannot be read at all is reported to the caller.
    }
    for (TConfigClass* entry : store.AllEntries())
        if (!store.Contains(entry))
            Fuzz::Fail("an entry listed but not held", QString());
    return 0;
}
