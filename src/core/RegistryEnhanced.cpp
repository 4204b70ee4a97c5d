#include "core/RegistryEnhanced.h"

#include "core/BaseUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QTemporaryFile>
#include <algorithm>
#include <memory>

namespace {
std::unique_ptr<QSettings> settings;
QString saveError;

std::unique_ptr<QSettings> openSettings(const QString& path)
{
    auto s = std::make_unique<QSettings>(path, QSettings::IniFormat);
    s->setAtomicSyncRequired(true);
    return s;
}

// QSettings reports only that a write failed, not why. Writing as much into a new file in the
// same folder meets the same obstacle and names it.
QString writeFailureReason(const QSettings& s)
{
    const QString path = s.fileName();
    qint64 size = QFileInfo(path).size();
    qint64 wanted = 0;
    for (const QString& key : s.allKeys())
        wanted += key.toUtf8().size() + s.value(key).toString().toUtf8().size() + 4;
    size = std::max<qint64>({size, wanted, 1});
    QTemporaryFile probe(QFileInfo(path).absolutePath() + QStringLiteral("/.settings-probe-XXXXXX"));
    if (!probe.open())
        return probe.errorString();
    const QByteArray block(qsizetype(std::min<qint64>(size, qint64(64) << 20)), ' ');
    if (probe.write(block) != block.size() || !probe.flush())
        return probe.errorString();
    return QStringLiteral("the file could not be written");
}

// "/" separates groups in the INI file, so it is escaped inside key and value names.
QString escapeName(const QString& name)
{
    QString out = name;
    out.replace(QLatin1Char('%'), QLatin1String("%25"));
    out.replace(QLatin1Char('/'), QLatin1String("%2F"));
    return out;
}

QString unescapeName(const QString& name)
{
    QString out = name;
    out.replace(QLatin1String("%2F"), QLatin1String("/"), Qt::CaseInsensitive);
    out.replace(QLatin1String("%25"), QLatin1String("%"));
    return out;
}

QString groupOf(const QString& keyPath)
{
    QStringList parts = keyPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (QString& p : parts)
        p = escapeName(p);
    return parts.join(QLatin1Char('/'));
}

// Finds the stored spelling of a value name, ignoring letter case.
QString storedName(QSettings& s, const QString& group, const QString& name)
{
    s.beginGroup(group);
    const QStringList keys = s.childKeys();
    s.endGroup();
    const QString wanted = escapeName(name);
    for (const QString& k : keys) {
        if (k == wanted)
            return k;
    }
    for (const QString& k : keys) {
        if (k.compare(wanted, Qt::CaseInsensitive) == 0)
            return k;
    }
    return QString();
}
}

TRegistryEnhanced::TRegistryEnhanced(const QString& keyPath) : Key(keyPath)
{
    while (Key.startsWith(QLatin1Char('\\')))
        Key.remove(0, 1);
    while (Key.endsWith(QLatin1Char('\\')))
        Key.chop(1);
}

QString TRegistryEnhanced::SettingsFilePath()
{
    const QString home = qEnvironmentVariable("VORLIX_HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(home) + QStringLiteral("/settings.ini");
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(config) + QStringLiteral("/Vorlix/settings.ini");
}

QSettings& TRegistryEnhanced::store()
{
    if (!settings) {
        const QString path = SettingsFilePath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        settings = openSettings(path);
        keepPrivate();
    }
    return *settings;
}

void TRegistryEnhanced::keepPrivate()
{
    // The settings may hold logins: like Config.chl, the file is for its owner only. A
    // replaced file keeps the mode of the one before.
    const QString path = SettingsFilePath();
    if (QFile::exists(path))
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TRegistryEnhanced::renewStore()
{
    // The values as this run knows them, written changes and pending ones alike.
    QHash<QString, QVariant> values;
    for (const QString& key : settings->allKeys())
        values.insert(key, settings->value(key));
    auto fresh = openSettings(settings->fileName());
    for (const QString& key : fresh->allKeys()) {
        if (!values.contains(key))
            fresh->remove(key);
    }
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (fresh->value(it.key()) != it.value())
            fresh->setValue(it.key(), it.value());
    }
    settings = std::move(fresh);
}

bool TRegistryEnhanced::Flush()
{
    if (!settings)
        return true;
    // QSettings keeps the first failure for good: a store that failed once is opened anew,
    // with the values of this run, so its status tells how this flush went.
    if (settings->status() == QSettings::AccessError)
        renewStore();
    settings->sync();
    if (settings->status() != QSettings::AccessError) {
        saveError.clear();
        keepPrivate();
        return true;
    }
    saveError = QStringLiteral("The settings could not be saved to \"%1\": %2. The file keeps the settings "
                               "saved before; this session's changes are written at the next save that succeeds.")
                    .arg(QDir::toNativeSeparators(settings->fileName()), writeFailureReason(*settings));
    UtilsClass::Log(QStringLiteral("Flush Exception: ") + saveError);
    return false;
}

QString TRegistryEnhanced::LastSaveError()
{
    return saveError;
}

void TRegistryEnhanced::ResetStore()
{
    Flush();
    settings.reset();
    saveError.clear();
}

void TRegistryEnhanced::resolve(const QString& name, QString& group, QString& value) const
{
    const qsizetype cut = name.lastIndexOf(QLatin1Char('\\'));
    QString key = Key;
    value = name;
    if (cut >= 0) {
        key += QLatin1Char('\\') + name.left(cut);
        value = name.mid(cut + 1);
    }
    group = groupOf(key);
}

void TRegistryEnhanced::WriteValue(const QString& name, const QVariant& value)
{
    if (Key.isEmpty())
        return;
    QString group, valueName;
    resolve(name, group, valueName);
    QSettings& s = store();
    QString stored = storedName(s, group, valueName);
    if (stored.isEmpty())
        stored = escapeName(valueName);
    QString text;
    if (value.typeId() == QMetaType::Bool)
        text = value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    else
        text = value.toString();
    s.setValue(group + QLatin1Char('/') + stored, text);
}

QVariant TRegistryEnhanced::ReadValue(const QString& name) const
{
    if (Key.isEmpty())
        return {};
    QString group, valueName;
    resolve(name, group, valueName);
    QSettings& s = store();
    const QString stored = storedName(s, group, valueName);
    if (stored.isEmpty())
        return {};
    const QVariant v = s.value(group + QLatin1Char('/') + stored);
    // A value edited by hand into a list ("a, b") is read back as the text it was.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
}

QVariant TRegistryEnhanced::ReadValueDefault(const QString& name, const QVariant& defaultValue) const
{
    const QVariant v = ReadValue(name);
    return v.isValid() ? v : defaultValue;
}

QStringList TRegistryEnhanced::GetValueNames(const QString& subKey) const
{
    QString key = Key;
    if (!subKey.isEmpty())
        key += QLatin1Char('\\') + subKey;
    QSettings& s = store();
    s.beginGroup(groupOf(key));
    QStringList keys = s.childKeys();
    s.endGroup();
    for (QString& k : keys)
        k = unescapeName(k);
    // List keys hold values "0", "1", ... "10": keep them in numeric order.
    std::stable_sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) {
        bool okA = false, okB = false;
        const qlonglong na = a.toLongLong(&okA), nb = b.toLongLong(&okB);
        if (okA && okB)
            return na < nb;
        if (okA != okB)
            return okA;
        return a < b;
    });
    return keys;
}

bool TRegistryEnhanced::DeleteValue(const QString& name)
{
    QString group, valueName;
    resolve(name, group, valueName);
    QSettings& s = store();
    const QString stored = storedName(s, group, valueName);
    if (stored.isEmpty())
        return false;
    s.remove(group + QLatin1Char('/') + stored);
    return true;
}
