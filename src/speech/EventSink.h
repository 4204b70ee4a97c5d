#pragma once
// Forwards the events of a voice object by their dispatch ids to the adapter's handlers:
// 2 EndStream(stream number) and 5 Word(stream number, stream position, character position,
// length). The other events of the voice object are not forwarded.
#include <QVariantList>
#include <cstdint>
#include <functional>

class TSpVoice;

class TEventSink {
public:
    enum : int { DispEndStream = 2, DispWord = 5 };

    std::function<void(int streamNumber)> OnEndStream;
    std::function<void(int streamNumber, int64_t streamPosition, int characterPosition, int length)> OnWord;

    // Attaches to the voice object's events (replacing earlier handlers of the voice).
    void Connect(TSpVoice* voice);
    void Disconnect();
    // Dispatches one event; wrong argument counts are ignored. Returns whether it was handled.
    bool Invoke(int dispatchId, const QVariantList& args);

private:
    TSpVoice* source = nullptr;
};
