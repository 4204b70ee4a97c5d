#include "TestSupport.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"
#include "gui/app/WindowPlacement.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

class TestWindowPlacement : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        TRegistryEnhanced::ResetStore();
        QFile::remove(TRegistryEnhanced::SettingsFilePath());
    }

    void windowPlacement()
    {
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        TRegistryEnhanced reg(WindowPlacementKey("Form1"));
        QVERIFY(reg.KeyPath().endsWith("Windows\\Vorlix\\Form1"));
        // Beyond the right and bottom edges: moved back onto the screen, never negative.
        reg.WriteValue("Maximized", "0");
        reg.WriteValue("Top", QString::number(screen.height() - 50));
        reg.WriteValue("Left", QString::number(screen.width() - 100));
        reg.WriteValue("Width", "400");
        reg.WriteValue("Height", "300");
        QWidget w;
        RestoreWindowPlacement(&w, "Form1");
        QCOMPARE(w.geometry(), QRect(screen.width() - 400, screen.height() - 300, 400, 300));
        reg.WriteValue("Width", QString::number(screen.width() + 500));
        reg.WriteValue("Left", "10");
        RestoreWindowPlacement(&w, "Form1");
        QCOMPARE(w.geometry().left(), 0);
        // A size saved on a larger screen shrinks to this one.
        QCOMPARE(w.geometry().width(), screen.width());
        reg.WriteValue("Height", QString::number(screen.height() * 2));
        RestoreWindowPlacement(&w, "Form1");
        QCOMPARE(w.geometry(), QRect(QPoint(0, 0), screen));

        // No saved height: nothing is restored.
        TRegistryEnhanced other(WindowPlacementKey("Other"));
        QWidget v;
        v.setGeometry(5, 6, 70, 80);
        RestoreWindowPlacement(&v, "Other");
        QCOMPARE(v.geometry(), QRect(5, 6, 70, 80));

        // A normal window saves all five values; a maximised one only "Maximized".
        v.setGeometry(20, 30, 300, 200);
        SaveWindowPlacement(&v, "Other");
        QCOMPARE(other.ReadValue("Height").toString(), QString("200"));
        QCOMPARE(other.ReadValue("Maximized").toString(), QString("0"));
        v.showMaximized();
        SaveWindowPlacement(&v, "Other");
        QCOMPARE(other.ReadValue("Maximized").toString(), QString("1"));
        QCOMPARE(other.ReadValue("Height").toString(), QString("200"));

        // A non-numeric value restores nothing.
        other.WriteValue("Top", "abc");
        QWidget u;
        u.setGeometry(1, 2, 30, 40);
        RestoreWindowPlacement(&u, "Other");
        QCOMPARE(u.geometry(), QRect(1, 2, 30, 40));
    }
};

VORLIX_TEST_MAIN(TestWindowPlacement)
#include "test_window_placement.moc"
