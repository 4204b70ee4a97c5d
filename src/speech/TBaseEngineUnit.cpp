#include "speech/TBaseEngineUnit.h"

#include "core/BaseUtils.h"

#include <cmath>

TBaseEngineClass::TBaseEngineClass() = default;

TBaseEngineClass::TBaseEngineClass(const QString& manufacturer, const QString& api, const QString& product)
    : Key(product)
    , Manufacturer(manufacturer)
    , ManufacturerName(manufacturer)
    , Product(product)
    , Api(api)
{
}

std::shared_ptr<TBaseEngineClass> TBaseEngineClass::Clone() const
{
    return std::make_shared<TBaseEngineClass>(*this);
}

QString TBaseEngineClass::PauseTag(const QString& seconds) const
{
    return PauseTag(UtilsClass::SafeStrToFloat(seconds));
}

namespace {
// The shortest general form of a number of milliseconds: 1500, 250, 12.5.
QString shortNumber(double value)
{
    if (std::isfinite(value) && std::fabs(value) < 1e15 && value == std::floor(value))
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', 15);
}
}

QString TBaseEngineClass::PauseTag(double seconds) const
{
    const QString ms = shortNumber(seconds * 1000.0);
    if (Api == QLatin1String("Sapi4"))
        return QStringLiteral("\\Pau=") + ms + QStringLiteral("\\");
    if (Api == QLatin1String("Sapi5"))
        return QStringLiteral("<SILENCE MSEC=\"") + ms + QStringLiteral("\"/>");
    return QString();
}

TFilterTarget TBaseEngineClass::FilterTarget() const
{
    TFilterTarget target;
    target.ReadsMarkup = Api == QLatin1String("Sapi5");
    target.PauseTag = [this](double seconds) { return PauseTag(seconds); };
    return target;
}
