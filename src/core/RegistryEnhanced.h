#pragma once
// The thin access layer under every setting. The program keeps its settings under key paths
// of the form "Software\QuenradTech\Vorlix\..." with string values; they are stored in one
// INI file (see SettingsFilePath). Value names ignore letter case; writes are atomic.
#include <QString>
#include <QStringList>
#include <QVariant>

class QSettings;

class TRegistryEnhanced {
public:
    explicit TRegistryEnhanced(const QString& keyPath);

    // Writes the value as text; creates the key when missing. Nothing happens for an empty key path.
    void WriteValue(const QString& name, const QVariant& value);
    // The stored text, or an invalid variant when the key or value is missing.
    QVariant ReadValue(const QString& name) const;
    QVariant ReadValueDefault(const QString& name, const QVariant& defaultValue) const;
    // Value names of the key (or of keyPath\subKey). Names of list keys come in numeric order.
    QStringList GetValueNames(const QString& subKey = QString()) const;
    bool DeleteValue(const QString& name);

    const QString& KeyPath() const { return Key; }

    // Where the settings live: $VORLIX_HOME/settings.ini when VORLIX_HOME is set, else
    // $XDG_CONFIG_HOME/Vorlix/settings.ini (~/.config/Vorlix/settings.ini).
    static QString SettingsFilePath();
    // Writes pending changes to disk now, replacing the file atomically. False when the file
    // could not be written (a full disk, for one): the file keeps what it held before, the
    // changes stay pending for the next flush, the failure is logged and LastSaveError says
    // why. Nothing open, nothing to write: true.
    static bool Flush();
    // The message of the last flush when it failed, naming the file and the reason ("The
    // settings could not be saved to "..." : No space left on device. ..."); empty once a
    // flush succeeded.
    static QString LastSaveError();
    // Forgets the open settings file, so the next access opens SettingsFilePath() anew.
    static void ResetStore();

private:
    // Splits name at its last "\" into a group below the key and the value name.
    void resolve(const QString& name, QString& group, QString& value) const;
    static QSettings& store();
    static void keepPrivate();
    static void renewStore();
    QString Key;
};
