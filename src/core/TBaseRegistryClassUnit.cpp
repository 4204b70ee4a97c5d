#include "core/TBaseRegistryClassUnit.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "core/RegistryEnhanced.h"
#include "core/VorlixException.h"

#include <QLocale>

const QString RegistryRoot = QStringLiteral("Software\\QuenradTech");

namespace {
const QString marker = QStringLiteral("defaultvalue");

QLocale numberLocale()
{
    QLocale l;
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l;
}
}

void regInt::SetFromText(const QString& text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    Value = v;
}

void regReal::SetFromText(const QString& text)
{
    bool ok = false;
    double v = numberLocale().toDouble(text.trimmed(), &ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    Value = v;
}

QString regReal::GetAsText() const
{
    return numberLocale().toString(Value, 'g', 15);
}

QString regReal::GetDefaultAsText() const
{
    return numberLocale().toString(Default, 'g', 15);
}

void regBool::SetFromVariant(const QVariant& v)
{
    if (v.typeId() == QMetaType::QString)
        Value = v.toString().toLower() == QLatin1String("true");
    else
        Value = v.toBool();
}

TBaseRegistryClass::TBaseRegistryClass() = default;
TBaseRegistryClass::~TBaseRegistryClass() = default;

void TBaseRegistryClass::AddItem(const QString& name, unsigned char location, const QString& sharedName,
                                 const QVariant& defaultValue, TRegKind kind)
{
    std::unique_ptr<BaseRegClass> item;
    switch (kind) {
    case rkInteger: item = std::make_unique<regInt>(name, location, sharedName, defaultValue.toInt()); break;
    case rkReal: item = std::make_unique<regReal>(name, location, sharedName, defaultValue.toDouble()); break;
    case rkBoolean: {
        bool def = defaultValue.typeId() == QMetaType::QString
            ? defaultValue.toString().toLower() == QLatin1String("true")
            : defaultValue.toBool();
        item = std::make_unique<regBool>(name, location, sharedName, def);
        break;
    }
    case rkString: item = std::make_unique<regString>(name, location, sharedName, defaultValue.toString()); break;
    case rkList: item = std::make_unique<regList>(name, location, sharedName); break;
    }
    items.push_back(std::move(item));
}

BaseRegClass* TBaseRegistryClass::findItem(const QString& name) const
{
    for (const auto& item : items) {
        if (item->Name.compare(name, Qt::CaseInsensitive) == 0)
            return item.get();
    }
    return nullptr;
}

BaseRegClass* TBaseRegistryClass::FindItem(const QString& name)
{
    BaseRegClass* item = findItem(name);
    if (!item)
        Dialogs().ShowMessage(QStringLiteral("No such registry item as name between equals =") + name
                              + QStringLiteral("="));
    return item;
}

QString TBaseRegistryClass::SectionKey() const
{
    return RegistryRoot + QLatin1Char('\\') + Section;
}

QString TBaseRegistryClass::keyFor(const BaseRegClass& item) const
{
    return item.Location != rlRoot ? SectionKey() : RegistryRoot;
}

void TBaseRegistryClass::LoadAll()
{
    const TRegistryEnhanced root(RegistryRoot);
    for (const auto& item : items) {
        const TRegistryEnhanced reg(keyFor(*item));
        if (item->Kind() == rkList) {
            auto* list = static_cast<regList*>(item.get());
            const QString listKey = QStringLiteral("List") + item->Name;
            list->List.clear();
            for (const QString& valueName : reg.GetValueNames(listKey))
                list->List << reg.ReadValue(listKey + QLatin1Char('\\') + valueName).toString();
            continue;
        }
        QString text = reg.ReadValueDefault(item->Name, marker).toString();
        if (text == marker) {
            const QString deployed = UtilsClass::GetDeploymentValue(item->Name);
            if (!deployed.isEmpty()) {
                text = deployed;
            } else {
                if (item->Location == rlShared)
                    text = root.ReadValueDefault(item->SharedName, marker).toString();
                if (text == marker)
                    text = item->GetDefaultAsText();
            }
        }
        try {
            item->SetFromText(text);
        } catch (const EConvertError& e) {
            // A damaged value must not keep the program from starting: it falls back to the default.
            UtilsClass::Log(QStringLiteral("LoadAll Exception: ") + item->Name + QStringLiteral(": ") + e.message());
            item->SetFromText(item->GetDefaultAsText());
        }
    }
}

void TBaseRegistryClass::SaveAll()
{
    TRegistryEnhanced root(RegistryRoot);
    for (const auto& item : items) {
        TRegistryEnhanced reg(keyFor(*item));
        if (item->Kind() == rkList) {
            const QString listKey = QStringLiteral("List") + item->Name;
            for (const QString& valueName : reg.GetValueNames(listKey))
                reg.DeleteValue(listKey + QLatin1Char('\\') + valueName);
            const QStringList& list = static_cast<regList*>(item.get())->List;
            for (int i = 0; i < list.size(); ++i)
                reg.WriteValue(listKey + QLatin1Char('\\') + QString::number(i), list.at(i));
            continue;
        }
        reg.WriteValue(item->Name, item->GetAsText());
        if (item->Location == rlShared) {
            // The first save seeds the shared value; an existing one is never overwritten.
            if (root.ReadValue(item->Name).toString().isEmpty())
                root.WriteValue(item->SharedName, item->GetAsText());
        }
    }
    TRegistryEnhanced::Flush();
}

QVariant TBaseRegistryClass::GetValue(const QString& name)
{
    BaseRegClass* item = FindItem(name);
    return item ? item->GetAsVariant() : QVariant();
}

void TBaseRegistryClass::SetValue(const QString& name, const QVariant& value)
{
    if (BaseRegClass* item = FindItem(name))
        item->SetFromVariant(value);
}

QStringList& TBaseRegistryClass::GetList(const QString& name)
{
    scratch.clear();
    BaseRegClass* item = FindItem(name);
    if (!item)
        return scratch;
    if (item->Kind() != rkList) {
        Dialogs().ShowMessage(name + QStringLiteral(" is not a StringList Item."));
        return scratch;
    }
    return static_cast<regList*>(item)->List;
}

bool TBaseRegistryClass::IsStartupSaved() const
{
    return TRegistryEnhanced(SectionKey()).ReadValueDefault(QStringLiteral("StartupSaved"), QStringLiteral("0")).toString()
        == QLatin1String("1");
}

void TBaseRegistryClass::SetStartupSaved()
{
    TRegistryEnhanced(SectionKey()).WriteValue(QStringLiteral("StartupSaved"), QStringLiteral("1"));
    TRegistryEnhanced::Flush();
}
