#pragma once
// The engine adapter for the voices of the SAPI-5-shaped layer (eSpeak NG behind it).
#include "speech/EventSink.h"
#include "speech/Sapi5Wrapper.h"
#include "speech/SpeechAPIUnit.h"

#include <memory>

class TBaseEngineClass;

// The engine's output has not moved for 2.5 s.
VORLIX_DECLARE_ERROR(ETTSEngineBusy, EVorlixError)

class TSapi5 : public TSpeechAPI {
    Q_OBJECT
public:
    // Raises ESpeechAPIError "Test for Sapi5 installed failed" without voices.
    explicit TSapi5(QObject* owner = nullptr);
    ~TSapi5() override;

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
    qint64 OutputFileMilliseconds() const override;
    // The device SetAudioDevice settled on (-1 the default device).
    int AudioDevice() const { return DeviceId; }

    static bool IsSapi5Installed();
    void XMLActivate(int pitch, int speed, bool markInProgress, TBaseVoiceClass* voice);
    void SetOutputStreamFormat(const TSpObjectTokenPtr& token, TBaseEngineClass* engine, TBaseVoiceClass* voice);
    bool IsEngineResponding();
    void Timer2Timer();
    void SpVoice1EndStream(int streamNumber);
    void FinishedHandler();

    // The language the user speaks (primary subtag, "en"); its voices and English start enabled.
    static QString UserLanguage();
    static void SetUserLanguageForTesting(const QString& language);

    QString OutputTarget;
    TSpVoice* Voice = nullptr;
    std::unique_ptr<TSpFileStream> FileStream;
    std::unique_ptr<TSpMMAudioOut> AudioOut;
    TSpObjectTokenPtr DefaultAudioOutput;
    bool XmlActivateInProgress = false;
    bool AudioStarted = false;
    QTimer Timer2;
    // How long IsEngineResponding watches the output (2.5 s).
    int ResponseTimeoutMs = 2500;
    // How long SetActive(false) waits for the texts still queued for a file (and the closing
    // silence) before it stops them, and how long it then waits for them to stop.
    int FileFinishTimeoutMs = 10000;
    int StopTimeoutMs = 2000;

private:
    void WordHandler(int streamNumber, int64_t streamPosition, int characterPosition, int length);
    void ApplyVolume(TBaseVoiceClass* voice);
    TEventSink Sink;
    int CurrentStream = -1; // the speak call of the current text
    bool CurrentStreamEnded = false;
    int DeviceId = -1;
};
