// The sound output devices as the program sees them: the device window with its list and
// details, the sound card warning window, and the test open of a device.
#include "TestSupport.h"
#include "test_engine_support.h"

#include "ScriptedWindows.h"
#include "speech/PulseAudioOut.h"
#include "gui/speech/SoundCardError.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

class TestAudioDevices : public QObject {
    Q_OBJECT

    // Device id of the sink with this description, -1 when absent.
    static int IdOf(const QString& description)
    {
        std::vector<TPulseSinkInfo> sinks;
        TPulseAudio::Instance().ListSinks(sinks);
        for (size_t i = 0; i < sinks.size(); ++i)
            if (sinks[i].Description == description)
                return int(i);
        return -1;
    }

private slots:
    void deviceList()
    {
        VORLIX_REQUIRE_PULSE();
        QVERIFY(WaveOutGetNumDevs() >= 2);
        const int nullId = IdOf(QStringLiteral("Vorlix_Null_Output"));
        const int spareId = IdOf(QStringLiteral("Vorlix_Spare_Output"));
        QVERIFY(nullId >= 0 && spareId >= 0);
        TAudioDeviceForm form;
        form.LoadDevices();
        QCOMPARE(form.windowTitle(), QStringLiteral("Audio Destination Device ID"));
        QCOMPARE(form.lstDevices->item(0)->text(), QStringLiteral("Wave_Mapper (MS Default)"));
        QVERIFY(form.lstDevices->count() >= 3); // other tests may add devices meanwhile
        QCOMPARE(form.lstDevices->item(nullId + 1)->text(), QStringLiteral("Vorlix_Null_Output"));
        // The default device: mono null sink of the test server.
        form.SelectDevice(-1);
        QCOMPARE(form.lblDeviceId->text(), QStringLiteral("-1 (Wave_mapper)"));
        QCOMPARE(form.lblChannels->text(), QStringLiteral("Mono"));
        TAudioDeviceDetails d;
        QVERIFY(TAudioDeviceForm::ReadDetails(-1, d));
        QStringList formats;
        for (const char* f : WaveFormatNames)
            formats << QLatin1String(f);
        QCOMPARE(d.Formats, formats.join(QLatin1Char('\r')));
        QVERIFY(d.Formats.contains(QLatin1String("22.05 kHz, Mono, 8-bit \r")));
        QCOMPARE(d.Features, QStringLiteral("Supports volume control. Returns sample-accurate position information."));
        QVERIFY(d.Device.contains(QLatin1String("vorlix_null")));
        // The stereo spare device.
        form.SelectDevice(spareId);
        QCOMPARE(form.lblDeviceId->text(), QString::number(spareId));
        QCOMPARE(form.lblChannels->text(), QStringLiteral("Stereo"));
        QVERIFY(form.lblFeatures->text().startsWith(QLatin1String("Supports separate left and right volume control. ")));
        QCOMPARE(form.SelectedDeviceId(), spareId);
        // An id out of range selects nothing; the details are empty.
        form.SelectDevice(999);
        QCOMPARE(form.SelectedDeviceId(), -1);
        QVERIFY(form.lblDeviceId->text().isEmpty());
        QVERIFY(!TAudioDeviceForm::ReadDetails(999, d));
    }

    void deviceWindowChoice()
    {
        VORLIX_REQUIRE_PULSE();
        const int spareId = IdOf(QStringLiteral("Vorlix_Spare_Output"));
        TScopedScriptedWindows d;
        // Pick the spare device and press OK.
        d.DialogHandlers.push_back([&](QDialog* dlg) {
            auto* f = qobject_cast<TAudioDeviceForm*>(dlg);
            if (!f || f->SelectedDeviceId() != -1)
                return int(QDialog::Rejected);
            f->lstDevices->setCurrentRow(spareId + 1);
            f->btnOk->click();
            return f->result();
        });
        auto r = TAudioDeviceForm::Execute(-1);
        QVERIFY(r.first);
        QCOMPARE(r.second, spareId);
        // Cancel keeps nothing.
        d.DialogHandlers.push_back([](QDialog* dlg) {
            auto* f = qobject_cast<TAudioDeviceForm*>(dlg);
            f->lstDevices->setCurrentRow(1);
            f->btnCancel->click();
            return f->result();
        });
        r = TAudioDeviceForm::Execute(spareId);
        QVERIFY(!r.first);
        QCOMPARE(r.second, spareId);
        // A double click accepts; the window opened with the current device selected.
        d.DialogHandlers.push_back([&](QDialog* dlg) {
            auto* f = qobject_cast<TAudioDeviceForm*>(dlg);
            if (f->SelectedDeviceId() != spareId)
                return int(QDialog::Rejected);
            f->lstDevices->setCurrentRow(0);
            emit f->lstDevices->itemDoubleClicked(f->lstDevices->item(0));
            return f->result();
        });
        r = TAudioDeviceForm::Execute(spareId);
        QVERIFY(r.first);
        QCOMPARE(r.second, -1);
    }

    void soundCardWarning()
    {
        TScopedScriptedWindows d;
        d.DialogHandlers.push_back([](QDialog* dlg) {
            auto* f = qobject_cast<TSoundCardErrorForm*>(dlg);
            if (!f || !f->btnCancel->isDefault())
                return int(QDialog::Rejected);
            f->chkDisable->setChecked(true);
            f->btnProceed->click();
            return f->result();
        });
        bool disable = false;
        QVERIFY(TSoundCardErrorForm::Execute(disable));
        QVERIFY(disable);
        QCOMPARE(d.DialogTitles.last(), QStringLiteral("Sound Card Error Detected"));
        QString boxText;
        d.DialogHandlers.push_back([&](QDialog* dlg) -> int {
            auto* f = qobject_cast<TSoundCardErrorForm*>(dlg);
            boxText = f->chkDisable->text();
            f->btnCancel->click();
            return f->result();
        });
        QVERIFY(!TSoundCardErrorForm::Execute(disable));
        QVERIFY(!disable);
        QCOMPARE(boxText, QStringLiteral("Disable Sound Card Check in the Future"));
    }

    void testOpen()
    {
        VORLIX_REQUIRE_PULSE();
        QCOMPARE(WaveOutTestOpen(-1), woOk);
        QCOMPARE(WaveOutTestOpen(0), woOk);
        QString err;
        QCOMPARE(WaveOutTestOpen(9999, &err), woError);
        QVERIFY(!err.isEmpty());
    }
};

VORLIX_TEST_MAIN(TestAudioDevices)
#include "test_audio_devices.moc"
