#pragma once
// The engine adapter for the modes of the SAPI-4-shaped layer (Flite behind it).
#include "speech/SpeechAPIUnit.h"
#include "speech/TTS.h"

class TSapi4 : public TSpeechAPI {
    Q_OBJECT
public:
    explicit TSapi4(QObject* owner = nullptr);
    ~TSapi4() override;

    void SetActive(bool flag) override;
    void LoadVoices(TVoiceList& voices, TEngineList& engines) override;
    void LoadVoiceDefaults(TBaseVoiceClass* voice) override;
    void Activate(TBaseVoiceClass* voice) override;
    void Play(const QString& text, TBaseVoiceClass* voice) override;
    void PlayText(const QString& text) override;
    bool PlayToFileInit(TBaseVoiceClass* voice, const QString& wavPath) override;
    bool PlayToFile(int reserved, const QString& text) override;
    void Skip() override;
    void AudioReset() override;
    void Pause() override;
    void Resume() override;
    void SetAudioDevice(int deviceId) override;
    bool CheckAudioDevice(int deviceId) override;
    qint64 OutputFileMilliseconds() const override { return Tts ? Tts->FileMilliseconds() : -1; }

    void TextDataDoneHandler(TTTS* sender);
    void AudioStopHandler(TTTS* sender);
    void WordPositionHandler(TTTS* sender, int64_t byteOffset);

    bool AudioStopped = false;
    int BytesPerChar = 2;
    TTTS* Tts = nullptr;

private:
    void AttachHandlers();
};
