// One line of an XOVER answer as the server sends it (the request processor's overview parser).
#include "FuzzSupport.h"

#include "core/VorlixException.h"
#include "nntp/NNTPProcessor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TNntpHeader header;
    bool dateReadable = false;
    try {
        TNntpProcessor::ParseOverviewLine(Fuzz::Bytes(data, size), header, dateReadable);
    } catch (const EVorlixError&) {
        // A line without a readable article number is refused; the download goes on.
    }
    return 0;
}
