// An output device that disappears while a text is spoken: the test starts a private sound
// server of its own (the project's service script), speaks through both adapters and stops
// the server in the middle. The text must end with an error, cancelled, never hang; and
// speaking works again once a server is back.
#include "TestSupport.h"
#include "test_engine_support.h"

#include "ScriptedDialogs.h"
#include "core/RegistryUnit.h"
#include "speech/PulseAudioOut.h"
#include "speech/Sapi4Unit.h"
#include "speech/Sapi5Unit.h"
#include "speech/TBaseEngineList.h"
#include "speech/TBaseVoiceList.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"
#include "speech/TBaseVoiceUnit.h"
#include "speech/TBaseVoiceUtils.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <stop_token>
#include <thread>

class TestAudioVanish : public QObject {
    Q_OBJECT
    QTemporaryDir work;
    QString script;

    bool Server(const QString& cmd)
    {
        QProcess p;
        p.start(QStringLiteral("bash"), {script, cmd, work.path()});
        return p.waitForFinished(20000) && p.exitCode() == 0;
    }

private slots:
    void initTestCase()
    {
        script = TestSupport::SourceDataDir() + QStringLiteral("/../scripts/test-services/pulseaudio.sh");
        VORLIX_REQUIRE_PROGRAM(QStringLiteral("pulseaudio"));
        QVERIFY(QFile::exists(script));
        qputenv("PULSE_SERVER", QFile::encodeName("unix:" + work.path() + "/pulse/native"));
    }

    void cleanupTestCase()
    {
        Server(QStringLiteral("stop"));
    }

    void deviceDisappearsWhileSpeaking()
    {
        TScopedScriptedDialogs d;
        TMyRegistryClass main;
        TBaseVoiceRegistryClass store(main);
        TVoiceList voices;
        TEngineList engines;
        TSapi4 sapi4;
        TSapi5 sapi5;
        sapi4.Store = sapi5.Store = &store;
        sapi4.LoadVoices(voices, engines);
        sapi5.LoadVoices(voices, engines);
        store.LoadAll();
        QString text;
        for (int i = 0; i < 200; ++i)
            text += QStringLiteral("This text goes on for a long time. ");
        const QList<std::pair<TSpeechAPI*, QString>> cases = {{&sapi5, QStringLiteral("English (America)")},
                                                              {&sapi4, QStringLiteral("Kal16")}};
        for (const auto& [adapter, name] : cases) {
            QVERIFY(Server(QStringLiteral("start")));
            TBaseVoiceClass* v = voices.FindByName(name);
            QVERIFY(v);
            v->SetValue(QStringLiteral("Pitch"), NotSet);
            v->SetValue(QStringLiteral("Speed"), NotSet);
            v->SetValue(QStringLiteral("Volume"), NotSet);
            int finished = 0, words = 0;
            bool cancelled = false;
            QStringList errors;
            adapter->OnFinished = [&](TSpeechAPI*, bool c) {
                ++finished;
                cancelled = c;
            };
            adapter->OnWordPosition = [&](TSpeechAPI*, unsigned char, int, int) { ++words; };
            adapter->OnError = [&](TSpeechAPI*, const QString& m) { errors << m; };
            adapter->Activate(v);
            adapter->PlayText(text);
            QVERIFY(TestSupport::WaitFor([&] { return words >= 3; }, 10000));
            QElapsedTimer t;
            t.start();
            QVERIFY(Server(QStringLiteral("stop")));
            QVERIFY2(TestSupport::WaitFor([&] { return finished > 0; }, 15000), qPrintable(name));
            QVERIFY(t.elapsed() < 8000);
            QVERIFY(cancelled);
            QCOMPARE(errors.size(), 1);
            QVERIFY(d.Shown.empty());
            adapter->SetActive(false);
        }
        // With a server back, speaking works again.
        QVERIFY(Server(QStringLiteral("start")));
        int finished = 0;
        bool cancelled = true;
        sapi5.OnFinished = [&](TSpeechAPI*, bool c) {
            ++finished;
            cancelled = c;
        };
        sapi5.Activate(voices.FindByName(QStringLiteral("English (America)")));
        sapi5.PlayText(QStringLiteral("Back again."));
        QVERIFY(TestSupport::WaitFor([&] { return finished > 0; }, 15000));
        QVERIFY(!cancelled);
        sapi5.SetActive(false);
    }

    void deviceWindowWhileServerVanishes()
    {
        // The device window reads the devices while the speech thread finds the server gone
        // and reconnects: neither may pull the connection from under the other.
        QVERIFY(Server(QStringLiteral("start")));
        std::jthread speechThread([](const std::stop_token& stop) {
            QString sink;
            for (TWaveOutCaps c; !stop.stop_requested(); WaveOutGetDevCaps(1, c))
                TPulseAudio::Instance().SinkNameForId(1, sink);
        });
        TWaveOutCaps caps;
        for (int round = 0; round < 3; ++round) {
            QVERIFY(TestSupport::WaitFor([&] { return WaveOutGetDevCaps(-1, caps) && caps.DriverVersion > 0; }, 5000));
            QProcess stopper;
            stopper.start(QStringLiteral("bash"), {script, QStringLiteral("stop"), work.path()});
            while (!stopper.waitForFinished(1))
                WaveOutGetDevCaps(-1, caps);
            QVERIFY(!WaveOutGetDevCaps(-1, caps) && !WaveOutGetDevCaps(0, caps));
            QCOMPARE(TPulseAudio::Instance().ServerProtocolVersion(), 0u);
            QVERIFY(Server(QStringLiteral("start")));
        }
    }
};

VORLIX_TEST_MAIN_CORE(TestAudioVanish)
#include "test_audio_vanish.moc"
