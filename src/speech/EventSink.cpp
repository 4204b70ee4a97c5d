#include "speech/EventSink.h"

#include "speech/Sapi5Wrapper.h"

void TEventSink::Connect(TSpVoice* voice)
{
    Disconnect();
    source = voice;
    if (!voice)
        return;
    voice->OnEndStream = [this](int stream) { Invoke(DispEndStream, {stream}); };
    voice->OnWord = [this](int stream, int64_t pos, int ch, int len) {
        Invoke(DispWord, {stream, qint64(pos), ch, len});
    };
}

void TEventSink::Disconnect()
{
    if (source) {
        source->OnEndStream = nullptr;
        source->OnWord = nullptr;
    }
    source = nullptr;
}

bool TEventSink::Invoke(int dispatchId, const QVariantList& args)
{
    switch (dispatchId) {
    case DispEndStream:
        if (args.size() != 1)
            return false;
        if (OnEndStream)
            OnEndStream(args[0].toInt());
        return true;
    case DispWord:
        if (args.size() != 4)
            return false;
        if (OnWord)
            OnWord(args[0].toInt(), args[1].toLongLong(), args[2].toInt(), args[3].toInt());
        return true;
    default:
        return false;
    }
}
